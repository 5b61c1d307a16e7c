// Helpers shared by the store tests: scratch folders, file bytes, and a plain listing of a tree.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/common/RegistryTree.h"
#include "platform/common/Utf.h"

namespace zelmora::platform::testing {

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/zelmora-store-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, for null, unsets) environment variables for one test and puts them back after.
class Environment {
 public:
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const char* value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// The bytes of a file (through a link), or none for anything else.
inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return {};
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

inline unsigned ModeOf(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status.st_mode & 07777;
}

// UTF-16LE with a byte-order mark, as the export format is stored.
inline std::vector<std::uint8_t> Utf16LeFile(std::u16string_view text) {
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  AppendUtf16Le(text, bytes);
  return bytes;
}

inline std::vector<std::uint8_t> StringValue(std::u16string_view text) {
  return Utf16LeWithNul(text);
}

// Every key (with its exact spelling) and value of a tree, one entry each, in tree order.
struct TreeEntry {
  std::u16string path;
  std::u16string valueName;  // empty for the key's own entry
  DWORD type = 0;
  std::vector<std::uint8_t> data;
  bool isKey = false;
  bool operator==(const TreeEntry&) const = default;
};

inline void ListKey(const RegistryKey& key, const std::u16string& path,
                    std::vector<TreeEntry>& out) {
  out.push_back({path, {}, 0, {}, true});
  for (const RegistryValue& value : key.Values()) {
    out.push_back({path, value.name, value.type, value.data, false});
  }
  for (const RegistryKey* subkey : key.Subkeys()) {
    ListKey(*subkey, path + u"\\" + subkey->Name(), out);
  }
}

inline std::vector<TreeEntry> ListTree(const RegistryTree& tree) {
  std::vector<TreeEntry> out;
  ListKey(tree.Root(), u"", out);
  return out;
}

}  // namespace zelmora::platform::testing
