#include "registry/Registry.h"

#include <vector>

#include "platform/common/Utf.h"
#include "registry/Exceptions.h"

namespace zelmora {
namespace {

using platform::System;

DWORD PlatformTypeOf(TRegDataType kind) {
  return kind == TRegDataType::rdString ? platform::kRegSz : platform::kRegDword;
}

}  // namespace

TRegistry::TRegistry()
    : FCurrentKey(platform::kNoKey), FRootKey(platform::kNoKey), FLazyWrite(false), FAccess(0) {
  SetRootKey(platform::kHkeyCurrentUser);
  FAccess = platform::kKeyAllAccess;
  // Lazy write: closing a key never forces it to disk.
  FLazyWrite = true;
}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY value) {
  if (value == FRootKey) return;
  FRootKey = value;
  CloseKey();
}

bool TRegistry::OpenKey(const std::u16string& Key, bool CanCreate) {
  std::u16string path = Key;
  const bool relative = path.empty() || path.front() != u'\\';
  if (!relative) path.erase(0, 1);
  const HKEY base = (relative && FCurrentKey != platform::kNoKey) ? FCurrentKey : FRootKey;

  HKEY opened = platform::kNoKey;
  platform::LONG result;
  if (CanCreate && !path.empty()) {
    DWORD disposition = 0;
    result =
        System().RegCreateKeyExW(base, path.c_str(), 0, nullptr, platform::kRegOptionNonVolatile,
                                 FAccess, nullptr, &opened, &disposition);
  } else {
    result = System().RegOpenKeyExW(base, path.c_str(), 0, FAccess, &opened);
  }
  if (result != platform::kErrorSuccess) return false;

  std::u16string newPath = path;
  if (relative && FCurrentKey != platform::kNoKey) newPath = FCurrentPath + u'\\' + path;
  CloseKey();
  FCurrentKey = opened;
  FCurrentPath = std::move(newPath);
  return true;
}

void TRegistry::WriteString(const std::u16string& Name, const std::u16string& Value) {
  const std::vector<std::uint8_t> bytes = platform::Utf16LeWithNul(Value);
  PutData(Name, bytes.data(), static_cast<DWORD>(bytes.size()), TRegDataType::rdString);
}

void TRegistry::WriteInteger(const std::u16string& Name, std::int32_t Value) {
  const auto bytes = platform::DwordLeBytes(static_cast<std::uint32_t>(Value));
  PutData(Name, bytes.data(), bytes.size(), TRegDataType::rdInteger);
}

void TRegistry::WriteBool(const std::u16string& Name, bool Value) {
  WriteInteger(Name, Value ? 1 : 0);
}

void TRegistry::CloseKey() {
  if (FCurrentKey == platform::kNoKey) return;
  System().RegCloseKey(FCurrentKey);
  FCurrentKey = platform::kNoKey;
  FCurrentPath.clear();
}

void TRegistry::PutData(const std::u16string& Name, const void* Buffer, DWORD BufSize,
                        TRegDataType RegData) {
  const platform::LONG result =
      System().RegSetValueExW(FCurrentKey, Name.c_str(), 0, PlatformTypeOf(RegData),
                              static_cast<const std::uint8_t*>(Buffer), BufSize);
  if (result != platform::kErrorSuccess) {
    throw ERegistryException(u"Failed to set data for '" + Name + u"'");
  }
}

}  // namespace zelmora
