// Access to the registry: one root key and at most one open key below it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace zelmora {

using platform::DWORD;
using platform::HKEY;

// The kind of a value as the writes name it; the common write step maps it to the platform's
// type code.
enum class TRegDataType { rdString, rdInteger };

class TRegistry {
 public:
  // Root HKEY_CURRENT_USER, full access, lazy write; no platform call.
  TRegistry();
  // Closes the open key, never the root.
  virtual ~TRegistry();

  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY CurrentKey() const { return FCurrentKey; }
  HKEY RootKey() const { return FRootKey; }
  // A different root closes the open key; the same root changes nothing.
  void SetRootKey(HKEY value);
  bool LazyWrite() const { return FLazyWrite; }
  const std::u16string& CurrentPath() const { return FCurrentPath; }
  DWORD Access() const { return FAccess; }

  // Opens (or, with CanCreate, creates) Key and makes it the open key. A leading backslash
  // takes the path from the root; otherwise it is taken from the open key, or the root when none
  // is open. Returns false, changing nothing, when the key cannot be opened.
  bool OpenKey(const std::u16string& Key, bool CanCreate);
  // Each raises ERegistryException naming the value when it cannot be stored.
  void WriteString(const std::u16string& Name, const std::u16string& Value);
  void WriteInteger(const std::u16string& Name, std::int32_t Value);
  void WriteBool(const std::u16string& Name, bool Value);
  // Closes the open key, if any; never fails.
  void CloseKey();

 private:
  void PutData(const std::u16string& Name, const void* Buffer, DWORD BufSize, TRegDataType RegData);

  HKEY FCurrentKey;
  HKEY FRootKey;
  bool FLazyWrite;
  std::u16string FCurrentPath;
  DWORD FAccess;
};

}  // namespace zelmora
