// An in-memory registry hive: keys below one root, each with typed values.
//
// Key and value names compare case-insensitively and keep the spelling they were first given,
// as on Windows. Subkeys are kept in case-insensitive order, values in the order first written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace zelmora::platform {

// The folded (upper-case) form of one UTF-16 unit used to compare names.
char16_t FoldNameUnit(char16_t unit);
// Case-insensitive ordering of names: compares the folded units.
int CompareNames(std::u16string_view a, std::u16string_view b);

struct RegistryValue {
  std::u16string name;
  DWORD type = kRegNone;
  std::vector<std::uint8_t> data;
};

class RegistryKey {
 public:
  explicit RegistryKey(std::u16string name);

  const std::u16string& Name() const { return name_; }
  // Subkeys in case-insensitive order of their names.
  std::vector<const RegistryKey*> Subkeys() const;
  // Values in the order first written.
  const std::vector<RegistryValue>& Values() const { return values_; }

  const RegistryKey* FindSubkey(std::u16string_view name) const;
  RegistryKey* FindSubkey(std::u16string_view name);
  // The subkey of that name, created when missing; *created tells which.
  RegistryKey& SubkeyCreatingMissing(std::u16string_view name, bool* created);
  const RegistryValue* FindValue(std::u16string_view name) const;
  // Replaces the value of that name (keeping its place and spelling) or appends a new one.
  void SetValue(std::u16string_view name, DWORD type, std::vector<std::uint8_t> data);

 private:
  struct NameLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
      return CompareNames(a, b) < 0;
    }
  };
  std::u16string name_;
  std::map<std::u16string, std::unique_ptr<RegistryKey>, NameLess> subkeys_;
  std::vector<RegistryValue> values_;
};

class RegistryTree {
 public:
  RegistryTree();

  // rootName is what names the root in exported files, e.g. "HKEY_CURRENT_USER".
  RegistryKey& Root() { return root_; }
  const RegistryKey& Root() const { return root_; }

  // The key at a backslash-separated path below the root ("" is the root), or null.
  const RegistryKey* FindKey(std::u16string_view path) const;
  RegistryKey* FindKey(std::u16string_view path);

 private:
  RegistryKey root_;
};

}  // namespace zelmora::platform
