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
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace zelmora::platform {

// The folded (upper-case) form of one UTF-16 unit used to compare names.
char16_t FoldNameUnit(char16_t unit);
// Case-insensitive ordering of names: compares the folded units.
int CompareNames(std::u16string_view a, std::u16string_view b);
// Whether two names are the same name.
bool SameName(std::u16string_view a, std::u16string_view b);

// Windows' limits on names, in UTF-16 units.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
// Levels of keys below the root.
constexpr std::size_t kMaxKeyDepth = 512;
// A key name: one path component, not empty, within the limit, no backslash, and only units the
// export format can carry (it has no escape for line ends, and names travel NUL-terminated).
bool IsValidKeyName(std::u16string_view name);
// A value name (empty for the default value), within the limit, with units the format carries.
bool IsValidValueName(std::u16string_view name);

struct RegistryValue {
  std::u16string name;
  DWORD type = kRegNone;
  std::vector<std::uint8_t> data;
};

class ChangeLog;

class RegistryKey {
 public:
  explicit RegistryKey(std::u16string name);

  const std::u16string& Name() const { return name_; }
  // Subkeys in case-insensitive order of their names.
  std::vector<const RegistryKey*> Subkeys() const;
  std::size_t SubkeyCount() const { return subkeys_.size(); }
  // Values in the order first written.
  const std::vector<RegistryValue>& Values() const { return values_; }

  const RegistryKey* FindSubkey(std::u16string_view name) const;
  RegistryKey* FindSubkey(std::u16string_view name);
  // The subkey of that name, created when missing; *created tells which.
  RegistryKey& SubkeyCreatingMissing(std::u16string_view name, bool* created);
  const RegistryValue* FindValue(std::u16string_view name) const;
  // Removes the subkey of that name with every key and value below it; false when there is
  // none. A tree recording its changes keeps the removed keys until the change is kept or undone.
  bool DeleteSubkeyTree(std::u16string_view name);
  // Replaces the value of that name (keeping its place and spelling) or appends a new one.
  // Storing what the value already holds changes nothing.
  void SetValue(std::u16string_view name, DWORD type, std::vector<std::uint8_t> data);

  // Changes whenever this key's values change, and is never given to any other key or content,
  // so that a cache can tell by (key, revision) that what it holds for a key is still current.
  std::uint64_t Revision() const { return revision_; }

 private:
  friend class RegistryTree;

  struct NameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
      return CompareNames(a, b) < 0;
    }
  };
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view name) const;
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const { return SameName(a, b); }
  };

  void Touch();
  void RemoveLastValue();
  void RestoreValue(std::size_t index, RegistryValue previous);
  void RemoveSubkey(const std::u16string& name);
  void RestoreSubkey(std::unique_ptr<RegistryKey> key);

  std::u16string name_;
  std::map<std::u16string, std::unique_ptr<RegistryKey>, NameLess> subkeys_;
  std::vector<RegistryValue> values_;
  // Position of each value by name, so that large keys are not searched from the front.
  std::unordered_map<std::u16string, std::size_t, NameHash, NameEqual> valueIndex_;
  std::uint64_t revision_;
  ChangeLog* log_ = nullptr;  // shared by every key of a tree; null for a key on its own
};

class RegistryTree {
 public:
  RegistryTree();
  RegistryTree(RegistryTree&&) noexcept;
  RegistryTree& operator=(RegistryTree&&) noexcept;
  ~RegistryTree();

  RegistryKey& Root() { return root_; }
  const RegistryKey& Root() const { return root_; }

  // The key at a backslash-separated path below the root ("" is the root), or null.
  const RegistryKey* FindKey(std::u16string_view path) const;
  RegistryKey* FindKey(std::u16string_view path);

  // A store that must make a change durable before keeping it records the change, so that it
  // can put the tree back when writing fails. Changes made after BeginChanges are recorded
  // until CommitChanges (keep them) or UndoChanges (revert them, newest first).
  void BeginChanges();
  bool HasChanges() const;
  void CommitChanges();
  void UndoChanges();

 private:
  std::unique_ptr<ChangeLog> log_;
  RegistryKey root_;
};

}  // namespace zelmora::platform
