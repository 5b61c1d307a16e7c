// The registry calls, implemented over a store of keys and a table of open handles.
//
// Shared by the POSIX back-end (store in a file) and the scripted one (store in memory), so that
// both give the same answers to the same calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/common/RegistryTree.h"

namespace zelmora::platform {

// Where the keys live. Every change is made through Update, which applies it to the current
// contents and makes it durable before returning; when Update fails, nothing has changed.
class KeyStore {
 public:
  virtual ~KeyStore() = default;
  // Runs change on the current tree. change returns kErrorSuccess to keep what it did, or an
  // error code to abandon it. Returns change's code, or the store's own failure code.
  [[nodiscard]] virtual LONG Update(const std::function<LONG(RegistryTree&)>& change) = 0;
  // Runs look on the current tree, which it must not change.
  [[nodiscard]] virtual LONG Read(const std::function<LONG(const RegistryTree&)>& look) = 0;
};

// Runs change on tree with its changes recorded, and keeps them only when change returns
// kErrorSuccess: an error code or a failure thrown undoes them all. Returns change's code.
[[nodiscard]] LONG ChangeOrUndo(RegistryTree& tree,
                                const std::function<LONG(RegistryTree&)>& change);

// A store that lives in memory only.
class MemoryKeyStore final : public KeyStore {
 public:
  [[nodiscard]] LONG Update(const std::function<LONG(RegistryTree&)>& change) override {
    return ChangeOrUndo(tree_, change);
  }
  [[nodiscard]] LONG Read(const std::function<LONG(const RegistryTree&)>& look) override {
    return look(tree_);
  }
  RegistryTree& Tree() { return tree_; }
  const RegistryTree& Tree() const { return tree_; }

 private:
  RegistryTree tree_;
};

class RegistryCalls {
 public:
  // root is the predefined handle the store stands for (kHkeyCurrentUser).
  RegistryCalls(KeyStore& store, HKEY root);
  ~RegistryCalls();

  [[nodiscard]] LONG CreateKey(HKEY key, const char16_t* subKey, HKEY* result, DWORD* disposition);
  [[nodiscard]] LONG OpenKey(HKEY key, const char16_t* subKey, HKEY* result);
  [[nodiscard]] LONG SetValue(HKEY key, const char16_t* valueName, DWORD type,
                              const std::uint8_t* data, DWORD dataSize);
  LONG CloseKey(HKEY key);
  // RegGetValueW: reads one value through the store's Read, so it never changes the store.
  LONG GetValue(HKEY key, const char16_t* subKey, const char16_t* valueName, DWORD flags,
                DWORD* type, void* data, DWORD* dataSize);

  // RegDeleteTreeW: deletes the key at subKey below key, with its tree, in one change of the
  // store. An empty subKey is refused rather than read as "everything below key".
  LONG DeleteTree(HKEY key, const char16_t* subKey);

  // Handles issued and not yet closed (for tests that look for leaks).
  std::size_t OpenHandleCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zelmora::platform
