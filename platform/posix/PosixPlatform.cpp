#include "platform/posix/PosixPlatform.h"

#include <csignal>

#include "platform/NativePlatform.h"
#include "platform/posix/FileKeyStore.h"
#include "platform/posix/ProcessTable.h"
#include "platform/posix/StoreLocation.h"

namespace zelmora::platform {

struct PosixPlatform::RegistryState {
  RegistryState(std::string path, std::u16string rootName, HKEY root)
      : store(std::move(path), std::move(rootName),
              root == kHkeyLocalMachine ? FileKeyStore::Access::ReadOnly
                                        : FileKeyStore::Access::ReadWrite),
        calls(store, root) {}
  FileKeyStore store;
  RegistryCalls calls;
};

Platform& NativePlatform() {
  static PosixPlatform platform;
  return platform;
}

PosixPlatform::PosixPlatform() {
  // A reader that has gone away must show up as a failed write (EPIPE), not end the process.
  std::signal(SIGPIPE, SIG_IGN);
}

PosixPlatform::~PosixPlatform() = default;

LONG PosixPlatform::Fail(LONG code) {
  lastError_ = static_cast<DWORD>(code);
  return code;
}

DWORD PosixPlatform::GetLastError() { return lastError_; }

RegistryCalls* PosixPlatform::Registry() {
  if (!registryLookedUp_) {
    registryLookedUp_ = true;
    if (const auto path = CurrentUserStorePath()) {
      registry_ = std::make_unique<RegistryState>(*path, u"HKEY_CURRENT_USER", kHkeyCurrentUser);
    }
  }
  return registry_ ? &registry_->calls : nullptr;
}

RegistryCalls* PosixPlatform::MachineRegistry() {
  if (!machineRegistry_) {
    machineRegistry_ = std::make_unique<RegistryState>(MachineStorePath(), u"HKEY_LOCAL_MACHINE",
                                                       kHkeyLocalMachine);
  }
  return &machineRegistry_->calls;
}

LONG PosixPlatform::RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD, const char16_t*, DWORD,
                                    DWORD, const void*, HKEY* result, DWORD* disposition) {
  RegistryCalls* calls = Registry();
  if (calls == nullptr) return Fail(kErrorPathNotFound);
  return calls->CreateKey(key, subKey, result, disposition);
}

LONG PosixPlatform::RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD, DWORD, HKEY* result) {
  RegistryCalls* calls = Registry();
  if (calls == nullptr) return Fail(kErrorPathNotFound);
  return calls->OpenKey(key, subKey, result);
}

LONG PosixPlatform::RegSetValueExW(HKEY key, const char16_t* valueName, DWORD, DWORD type,
                                   const std::uint8_t* data, DWORD dataSize) {
  RegistryCalls* calls = Registry();
  if (calls == nullptr) return Fail(kErrorPathNotFound);
  return calls->SetValue(key, valueName, type, data, dataSize);
}

LONG PosixPlatform::RegCloseKey(HKEY key) {
  RegistryCalls* calls = Registry();
  if (calls == nullptr) return Fail(kErrorInvalidHandle);
  return calls->CloseKey(key);
}

LONG PosixPlatform::RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName,
                                 DWORD flags, DWORD* type, void* data, DWORD* dataSize) {
  // The machine's hive is reached by this call alone, so nothing can write it.
  RegistryCalls* calls = key == kHkeyLocalMachine ? MachineRegistry() : Registry();
  if (calls == nullptr) return Fail(kErrorFileNotFound);  // no home: no hive, so no value
  const LONG error = calls->GetValue(key, subKey, valueName, flags, type, data, dataSize);
  return error == kErrorSuccess ? error : Fail(error);
}

LONG PosixPlatform::RegDeleteTreeW(HKEY key, const char16_t* subKey) {
  if (key == kHkeyLocalMachine) return Fail(kErrorAccessDenied);  // only ever read
  RegistryCalls* calls = Registry();
  if (calls == nullptr) return Fail(kErrorFileNotFound);  // no home: no hive, so no key
  const LONG error = calls->DeleteTree(key, subKey);
  return error == kErrorSuccess ? error : Fail(error);
}

}  // namespace zelmora::platform
