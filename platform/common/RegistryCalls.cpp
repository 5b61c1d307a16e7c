#include "platform/common/RegistryCalls.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace zelmora::platform {
namespace {

// Splits a sub-path into key names, or gives the error Windows gives for it.
LONG SplitSubPath(std::u16string_view path, std::vector<std::u16string_view>& names) {
  names.clear();
  if (path.empty()) return kErrorSuccess;
  if (path.front() == u'\\') return kErrorBadPathname;
  while (true) {
    const std::size_t end = path.find(u'\\');
    const std::u16string_view name = path.substr(0, end);
    if (name.empty()) return kErrorBadPathname;
    if (!IsValidKeyName(name)) return kErrorInvalidParameter;
    names.push_back(name);
    if (end == std::u16string_view::npos) return kErrorSuccess;
    path.remove_prefix(end + 1);
  }
}

std::u16string JoinPath(std::u16string_view base, std::u16string_view name) {
  std::u16string path(base);
  if (!path.empty()) path.push_back(u'\\');
  path += name;
  return path;
}

// The key at base and then down names, as the tree spells them; path, when given, gets its path.
LONG Descend(const RegistryTree& tree, const std::u16string& base,
             const std::vector<std::u16string_view>& names, const RegistryKey*& key,
             std::u16string* path) {
  key = tree.FindKey(base);
  if (key == nullptr) return kErrorKeyDeleted;
  for (std::u16string_view name : names) {
    key = key->FindSubkey(name);
    if (key == nullptr) return kErrorFileNotFound;
    if (path != nullptr) *path = JoinPath(*path, key->Name());
  }
  return kErrorSuccess;
}

std::size_t Depth(std::u16string_view path) {
  return path.empty() ? 0 : 1 + std::count(path.begin(), path.end(), u'\\');
}

}  // namespace

LONG ChangeOrUndo(RegistryTree& tree, const std::function<LONG(RegistryTree&)>& change) {
  tree.BeginChanges();
  LONG result;
  try {
    result = change(tree);
  } catch (...) {
    tree.UndoChanges();
    throw;
  }
  if (result == kErrorSuccess) {
    tree.CommitChanges();
  } else {
    tree.UndoChanges();
  }
  return result;
}

struct RegistryCalls::Impl {
  KeyStore& store;
  HKEY root;
  // Each open handle stands for a key path (as spelled in the store), looked up afresh on every
  // call, so that a key that disappeared from under a handle is noticed rather than resurrected.
  std::unordered_map<std::uintptr_t, std::u16string> handles;
  // Never reused, so that a closed handle stays invalid instead of reaching another key.
  std::uintptr_t nextHandle = 0x1000;

  // The path a handle stands for, or nothing for null, closed, unknown and other roots.
  std::optional<std::u16string> PathOf(HKEY key) const {
    if (key == root) return std::u16string();
    const auto found = handles.find(static_cast<std::uintptr_t>(key));
    if (found == handles.end()) return std::nullopt;
    return found->second;
  }

  // The path of key and the names of subKey below it, or the error Windows gives for them.
  LONG Resolve(HKEY key, const char16_t* subKey, std::u16string& base,
               std::vector<std::u16string_view>& names) const {
    const std::optional<std::u16string> path = PathOf(key);
    if (!path) return kErrorInvalidHandle;
    base = *path;
    return SplitSubPath(subKey != nullptr ? subKey : u"", names);
  }

  HKEY Issue(std::u16string path) {
    const std::uintptr_t handle = nextHandle;
    nextHandle += 4;
    handles.emplace(handle, std::move(path));
    return static_cast<HKEY>(handle);
  }
};

RegistryCalls::RegistryCalls(KeyStore& store, HKEY root)
    : impl_(std::make_unique<Impl>(Impl{store, root, {}})) {}

RegistryCalls::~RegistryCalls() = default;

LONG RegistryCalls::CreateKey(HKEY key, const char16_t* subKey, HKEY* result, DWORD* disposition) {
  if (result == nullptr || subKey == nullptr) return kErrorInvalidParameter;
  std::u16string path;
  std::vector<std::u16string_view> names;
  if (const LONG error = impl_->Resolve(key, subKey, path, names); error != kErrorSuccess) {
    return error;
  }
  if (Depth(path) + names.size() > kMaxKeyDepth) return kErrorInvalidParameter;

  bool created = false;
  const LONG error = impl_->store.Update([&](RegistryTree& tree) {
    RegistryKey* current = tree.FindKey(path);
    if (current == nullptr) return kErrorKeyDeleted;
    for (std::u16string_view name : names) {
      current = &current->SubkeyCreatingMissing(name, &created);
      path = JoinPath(path, current->Name());
    }
    return kErrorSuccess;
  });
  if (error != kErrorSuccess) return error;
  *result = impl_->Issue(std::move(path));
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

LONG RegistryCalls::OpenKey(HKEY key, const char16_t* subKey, HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  std::u16string base;
  std::vector<std::u16string_view> names;
  if (const LONG error = impl_->Resolve(key, subKey, base, names); error != kErrorSuccess) {
    return error;
  }
  std::u16string path = base;
  const LONG error = impl_->store.Read([&](const RegistryTree& tree) {
    const RegistryKey* found = nullptr;
    return Descend(tree, base, names, found, &path);
  });
  if (error != kErrorSuccess) return error;
  *result = impl_->Issue(std::move(path));
  return kErrorSuccess;
}

LONG RegistryCalls::SetValue(HKEY key, const char16_t* valueName, DWORD type,
                             const std::uint8_t* data, DWORD dataSize) {
  const std::optional<std::u16string> path = impl_->PathOf(key);
  if (!path) return kErrorInvalidHandle;
  const std::u16string_view name = valueName != nullptr ? valueName : u"";
  if (!IsValidValueName(name)) return kErrorInvalidParameter;
  if (data == nullptr && dataSize != 0) return kErrorInvalidParameter;

  return impl_->store.Update([&](RegistryTree& tree) {
    RegistryKey* target = tree.FindKey(*path);
    if (target == nullptr) return kErrorKeyDeleted;
    target->SetValue(name, type, std::vector<std::uint8_t>(data, data + dataSize));
    return kErrorSuccess;
  });
}

LONG RegistryCalls::CloseKey(HKEY key) {
  if (key == impl_->root) return kErrorSuccess;  // the predefined root is never really closed
  return impl_->handles.erase(static_cast<std::uintptr_t>(key)) == 1 ? kErrorSuccess
                                                                     : kErrorInvalidHandle;
}

LONG RegistryCalls::GetValue(HKEY key, const char16_t* subKey, const char16_t* valueName,
                             DWORD flags, DWORD* type, void* data, DWORD* dataSize) {
  if (flags != kRrfRtRegSz && flags != kRrfRtAny) return kErrorInvalidParameter;
  if (dataSize == nullptr && data != nullptr) return kErrorInvalidParameter;
  std::u16string base;
  std::vector<std::u16string_view> names;
  if (const LONG error = impl_->Resolve(key, subKey, base, names); error != kErrorSuccess) {
    return error;
  }
  const std::u16string_view name = valueName != nullptr ? valueName : u"";

  return impl_->store.Read([&](const RegistryTree& tree) {
    const RegistryKey* current = nullptr;
    if (const LONG error = Descend(tree, base, names, current, nullptr); error != kErrorSuccess) {
      return error;
    }
    const RegistryValue* value = current->FindValue(name);
    if (value == nullptr) return kErrorFileNotFound;
    if (flags == kRrfRtRegSz && value->type != kRegSz) return kErrorUnsupportedType;
    // A string comes back in whole units ended by a zero unit, even when stored without one.
    const std::vector<std::uint8_t>& bytes = value->data;
    std::size_t needed = bytes.size();
    if (value->type == kRegSz) {
      const bool ended = bytes.size() % 2 == 0 && bytes.size() >= 2 && bytes.back() == 0 &&
                         bytes[bytes.size() - 2] == 0;
      if (!ended) needed += bytes.size() % 2 + 2;
    }
    if (type != nullptr) *type = value->type;
    if (dataSize == nullptr) return kErrorSuccess;
    if (data == nullptr) {
      *dataSize = static_cast<DWORD>(needed);
      return kErrorSuccess;
    }
    if (*dataSize < needed) {
      *dataSize = static_cast<DWORD>(needed);
      return kErrorMoreData;
    }
    auto* out = static_cast<std::uint8_t*>(data);
    std::copy(bytes.begin(), bytes.end(), out);
    std::fill(out + bytes.size(), out + needed, std::uint8_t{0});
    *dataSize = static_cast<DWORD>(needed);
    return kErrorSuccess;
  });
}

LONG RegistryCalls::DeleteTree(HKEY key, const char16_t* subKey) {
  std::u16string base;
  std::vector<std::u16string_view> names;
  if (const LONG error = impl_->Resolve(key, subKey, base, names); error != kErrorSuccess) {
    return error;
  }
  if (names.empty()) return kErrorInvalidParameter;
  const auto find = [&](const RegistryTree& tree) {
    const std::vector<std::u16string_view> parentNames(names.begin(), names.end() - 1);
    const RegistryKey* parent = nullptr;
    if (const LONG error = Descend(tree, base, parentNames, parent, nullptr);
        error != kErrorSuccess) {
      return error;
    }
    return parent->FindSubkey(names.back()) != nullptr ? kErrorSuccess : kErrorFileNotFound;
  };
  // A key that is not there is told without a write, which would create the store's folder.
  if (const LONG error = impl_->store.Read(find); error != kErrorSuccess) return error;
  return impl_->store.Update([&](RegistryTree& tree) {
    if (const LONG error = find(tree); error != kErrorSuccess) return error;
    RegistryKey* parent = tree.FindKey(base);
    for (std::size_t i = 0; i + 1 < names.size(); ++i) parent = parent->FindSubkey(names[i]);
    parent->DeleteSubkeyTree(names.back());
    return kErrorSuccess;
  });
}

std::size_t RegistryCalls::OpenHandleCount() const { return impl_->handles.size(); }

}  // namespace zelmora::platform
