#include "platform/scripted/ScriptedPlatform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "platform/common/BuiltInMessages.h"
#include "platform/common/LanguageList.h"
#include "platform/common/Utf.h"

namespace zelmora::platform {
namespace {

constexpr HANDLE kOutHandle{1};
constexpr HANDLE kErrHandle{2};
constexpr UINT kCodePageAscii = 20127;  // unmappable characters become '?'

// Room that the log keeps ready, so that logging the calls of a run of ordinary length allocates
// nothing: records, and the text of each record's detail.
constexpr std::size_t kReservedCalls = 1024;
constexpr std::size_t kReservedDetailUnits = 64;

// A number's decimal digits, kept in place rather than in an allocated string.
class HandleText {
 public:
  explicit HandleText(std::uintptr_t value) {
    do {
      digits_[--first_] = static_cast<char16_t>(u'0' + value % 10);
      value /= 10;
    } while (value != 0);
  }
  operator std::u16string_view() const {
    return {digits_.data() + first_, digits_.size() - first_};
  }

 private:
  std::array<char16_t, 20> digits_{};
  std::size_t first_ = digits_.size();
};

std::u16string_view Text(const char16_t* text) { return text != nullptr ? text : u"(null)"; }

}  // namespace

const char* CallName(Call call) {
  switch (call) {
#define ZELMORA_CALL_NAME(result, name, parameters, canFail) \
  case Call::name:                                           \
    return #name;
    ZELMORA_SCRIPTED_CALLS(ZELMORA_CALL_NAME)
#undef ZELMORA_CALL_NAME
  }
  return "?";
}

bool CanFail(Call call) {
  switch (call) {
#define ZELMORA_CALL_CAN_FAIL(result, name, parameters, canFail) \
  case Call::name:                                               \
    return canFail;
    ZELMORA_SCRIPTED_CALLS(ZELMORA_CALL_CAN_FAIL)
#undef ZELMORA_CALL_CAN_FAIL
  }
  return false;
}

ScriptedPlatform::ScriptedPlatform()
    : calls_(store_, kHkeyCurrentUser), machineCalls_(machineStore_, kHkeyLocalMachine) {
  // Logging a call allocates nothing in a run of ordinary length (up to kReservedCalls calls,
  // details up to kReservedDetailUnits units), so that tests which make allocations fail do not
  // spend their failures on the log. Writing to the streams allocates nothing up to their
  // reserved sizes either.
  log_.reserve(kReservedCalls);
  spareDetails_.resize(kReservedCalls);
  for (std::u16string& detail : spareDetails_) detail.reserve(kReservedDetailUnits);
  for (ScriptedStream* stream : {&out, &err}) {
    stream->bytes.reserve(64 * 1024);
    stream->writeSizes.reserve(1024);
  }
}
ScriptedPlatform::~ScriptedPlatform() = default;

void ScriptedPlatform::FailCall(Call call, int nth, LONG code) { callFaults_[{call, nth}] = code; }

void ScriptedPlatform::FailAt(std::size_t position, LONG code) { positionFaults_[position] = code; }

void ScriptedPlatform::ExhaustMemoryAt(std::size_t position) { memoryFaults_.insert(position); }

void ScriptedPlatform::FaultAt(Call call, int nth, const ProcessorFault& fault) {
  processorFaults_[{call, nth}] = fault;
}

std::optional<LONG> ScriptedPlatform::Enter(Call call, std::u16string_view detail) {
  const std::size_t position = log_.size();
  std::u16string text;
  if (position < spareDetails_.size()) text = std::move(spareDetails_[position]);
  text.assign(detail);
  log_.push_back({call, std::move(text)});
  const int nth = ++counts_[static_cast<std::size_t>(call)];
  if (onCall) onCall(call);
  if (memoryFaults_.count(position) != 0) throw std::bad_alloc();
  if (auto it = processorFaults_.find({call, nth}); it != processorFaults_.end()) {
    if (faultHandler_ == nullptr) throw ProcessExit{kUnhandledFaultStatus};
    faultHandler_(it->second);
  }
  if (!CanFail(call)) return std::nullopt;
  if (auto it = positionFaults_.find(position); it != positionFaults_.end()) return it->second;
  if (auto it = callFaults_.find({call, nth}); it != callFaults_.end()) return it->second;
  return std::nullopt;
}

LONG ScriptedPlatform::RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD, const char16_t*,
                                       DWORD, DWORD, const void*, HKEY* result,
                                       DWORD* disposition) {
  if (auto fault = Enter(Call::RegCreateKeyExW, Text(subKey))) return *fault;
  return calls_.CreateKey(key, subKey, result, disposition);
}

LONG ScriptedPlatform::RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD, DWORD, HKEY* result) {
  if (auto fault = Enter(Call::RegOpenKeyExW, Text(subKey))) return *fault;
  return calls_.OpenKey(key, subKey, result);
}

LONG ScriptedPlatform::RegSetValueExW(HKEY key, const char16_t* valueName, DWORD, DWORD type,
                                      const std::uint8_t* data, DWORD dataSize) {
  if (auto fault = Enter(Call::RegSetValueExW, Text(valueName))) return *fault;
  return calls_.SetValue(key, valueName, type, data, dataSize);
}

LONG ScriptedPlatform::RegCloseKey(HKEY key) {
  if (auto fault = Enter(Call::RegCloseKey, HandleText(static_cast<std::uintptr_t>(key)))) {
    return *fault;
  }
  return calls_.CloseKey(key);
}

LONG ScriptedPlatform::RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName,
                                    DWORD flags, DWORD* type, void* data, DWORD* dataSize) {
  if (auto fault = Enter(Call::RegGetValueW, Text(valueName))) return *fault;
  RegistryCalls& calls = key == kHkeyLocalMachine ? machineCalls_ : calls_;
  return calls.GetValue(key, subKey, valueName, flags, type, data, dataSize);
}

LONG ScriptedPlatform::RegDeleteTreeW(HKEY key, const char16_t* subKey) {
  if (auto fault = Enter(Call::RegDeleteTreeW, Text(subKey))) return *fault;
  return calls_.DeleteTree(key, subKey);
}

DWORD ScriptedPlatform::GetEnvironmentVariableW(const char16_t* name, char16_t* buffer,
                                                DWORD size) {
  if (auto fault = Enter(Call::GetEnvironmentVariableW, Text(name))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  const auto it = environment.find(Text(name));
  if (it == environment.end() || it->second.empty()) {
    lastError_ = kErrorEnvvarNotFound;
    return 0;
  }
  const std::u16string& value = it->second;
  if (value.size() + 1 > size) return static_cast<DWORD>(value.size() + 1);
  value.copy(buffer, value.size());
  buffer[value.size()] = u'\0';
  return static_cast<DWORD>(value.size());
}

BOOL ScriptedPlatform::GetUserNameW(char16_t* buffer, DWORD* size) {
  if (auto fault = Enter(Call::GetUserNameW, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (!userName) {
    lastError_ = kErrorGenFailure;
    return 0;
  }
  if (userName->size() + 1 > *size) {
    *size = static_cast<DWORD>(userName->size() + 1);
    lastError_ = kErrorInsufficientBuffer;
    return 0;
  }
  userName->copy(buffer, userName->size());
  buffer[userName->size()] = u'\0';
  *size = static_cast<DWORD>(userName->size() + 1);
  return 1;
}

HANDLE ScriptedPlatform::GetStdHandle(DWORD stdHandle) {
  const bool isOut = stdHandle == kStdOutputHandle;
  if (auto fault = Enter(Call::GetStdHandle, isOut ? u"out" : u"err")) {
    lastError_ = static_cast<DWORD>(*fault);
    return kInvalidHandle;
  }
  if (isOut) return kOutHandle;
  if (stdHandle == kStdErrorHandle) return kErrHandle;
  lastError_ = kErrorInvalidHandle;
  return kInvalidHandle;
}

ScriptedStream* ScriptedPlatform::StreamOf(HANDLE file) {
  if (file == kOutHandle) return &out;
  if (file == kErrHandle) return &err;
  return nullptr;
}

DWORD ScriptedPlatform::GetFileType(HANDLE file) {
  if (Enter(Call::GetFileType, HandleText(static_cast<std::uintptr_t>(file)))) {
    return kFileTypeUnknown;
  }
  const ScriptedStream* stream = StreamOf(file);
  return stream != nullptr ? stream->fileType : kFileTypeUnknown;
}

UINT ScriptedPlatform::GetConsoleOutputCP() {
  Enter(Call::GetConsoleOutputCP, u"");
  return consoleCodePage;
}

UINT ScriptedPlatform::GetACP() {
  Enter(Call::GetACP, u"");
  return ansiCodePage;
}

int ScriptedPlatform::WideCharToMultiByte(UINT codePage, DWORD, const char16_t* wide,
                                          int wideLength, char* bytes, int byteCapacity,
                                          const char* defaultChar, BOOL* usedDefaultChar) {
  if (auto fault = Enter(Call::WideCharToMultiByte, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (codePage == kCodePageOem) codePage = oemCodePage;
  if (codePage == 0) codePage = ansiCodePage;
  const std::u16string_view text(wide, static_cast<std::size_t>(wideLength));
  std::string converted;
  bool usedDefault = false;
  if (codePage == kCodePageUtf8) {
    if (defaultChar != nullptr || usedDefaultChar != nullptr) {
      lastError_ = kErrorInvalidParameter;
      return 0;
    }
    converted = Utf16ToUtf8(text);
  } else if (codePage == kCodePageAscii) {
    for (char16_t unit : text) {
      usedDefault = usedDefault || unit > 0x7F;
      converted.push_back(unit > 0x7F ? '?' : static_cast<char>(unit));
    }
  } else {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? 1 : 0;
  if (byteCapacity == 0) return static_cast<int>(converted.size());
  if (converted.size() > static_cast<std::size_t>(byteCapacity)) {
    lastError_ = kErrorInsufficientBuffer;
    return 0;
  }
  std::memcpy(bytes, converted.data(), converted.size());
  return static_cast<int>(converted.size());
}

BOOL ScriptedPlatform::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                                 void*) {
  if (written != nullptr) *written = 0;
  if (auto fault = Enter(Call::WriteFile, HandleText(static_cast<std::uintptr_t>(file)))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  ScriptedStream* stream = StreamOf(file);
  if (stream == nullptr) return WriteToFile(file, buffer, size, written);
  if (stream->fileType == kFileTypeUnknown) {
    lastError_ = kErrorInvalidHandle;
    return 0;
  }
  if (stream->room) {
    if (size > *stream->room) {
      lastError_ = kErrorDiskFull;
      return 0;
    }
    *stream->room -= size;
  }
  stream->bytes.append(static_cast<const char*>(buffer), size);
  stream->writeSizes.push_back(size);
  if (written != nullptr) *written = size;
  return 1;
}

DWORD ScriptedPlatform::GetLastError() {
  Enter(Call::GetLastError, u"");
  return lastError_;
}

ScriptedFolder ScriptedPlatform::FolderOf(std::u16string_view path) const {
  const std::size_t separator = path.find_last_of(u"\\/");
  const auto found =
      folders.find(path.substr(0, separator == std::u16string_view::npos ? 0 : separator));
  return found == folders.end() ? ScriptedFolder{} : found->second;
}

HANDLE ScriptedPlatform::CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                                     const void* securityAttributes, DWORD creationDisposition,
                                     DWORD, HANDLE templateFile) {
  if (auto fault = Enter(Call::CreateFileW, Text(fileName))) {
    lastError_ = static_cast<DWORD>(*fault);
    return kInvalidHandle;
  }
  // The two ways of opening a file that every back-end supports, and nothing else.
  const bool plain =
      fileName != nullptr && securityAttributes == nullptr && templateFile == kNoHandle;
  const bool reading = plain && desiredAccess == kGenericRead && shareMode == kFileShareRead &&
                       creationDisposition == kOpenExisting;
  const bool writing = plain && desiredAccess == kGenericWrite && shareMode == 0 &&
                       creationDisposition == kCreateAlways;
  if (!reading && !writing) {
    lastError_ = kErrorInvalidParameter;
    return kInvalidHandle;
  }
  const std::u16string_view path = fileName;
  const ScriptedFolder folder = FolderOf(path);
  if (!folder.exists) {
    lastError_ = kErrorPathNotFound;
    return kInvalidHandle;
  }
  if (writing) {
    if (!folder.allowsWrites) {
      lastError_ = kErrorAccessDenied;
      return kInvalidHandle;
    }
    files[std::u16string(path)].clear();
  }
  OpenFile opened;
  opened.path = path;
  opened.writable = writing;
  if (reading) {
    const auto program = programs.find(path);
    if (program != programs.end()) opened.program = program->second;
    if (!opened.program && files.find(path) == files.end()) {
      lastError_ = kErrorFileNotFound;
      return kInvalidHandle;
    }
  }
  const std::uintptr_t handle = nextFile_++;
  openFiles_[handle] = std::move(opened);
  return static_cast<HANDLE>(handle);
}

ScriptedPlatform::OpenFile* ScriptedPlatform::EnterFileCall(Call call, HANDLE file) {
  const auto handle = static_cast<std::uintptr_t>(file);
  if (auto fault = Enter(call, HandleText(handle))) {
    lastError_ = static_cast<DWORD>(*fault);
    return nullptr;
  }
  const auto open = openFiles_.find(handle);
  if (open == openFiles_.end()) {
    lastError_ = kErrorInvalidHandle;
    return nullptr;
  }
  return &open->second;
}

std::string_view ScriptedPlatform::Contents(const OpenFile& file) const {
  if (file.pipe) return *file.pipe;
  const auto found = files.find(file.path);
  return found == files.end() ? std::string_view() : std::string_view(found->second);
}

BOOL ScriptedPlatform::GetFileSizeEx(HANDLE file, std::int64_t* size) {
  const OpenFile* opened = EnterFileCall(Call::GetFileSizeEx, file);
  if (opened == nullptr) return 0;
  if (opened->pipe) {
    lastError_ = kErrorInvalidHandle;  // a pipe has no size
    return 0;
  }
  *size = static_cast<std::int64_t>(Contents(*opened).size());
  return 1;
}

BOOL ScriptedPlatform::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void*) {
  *read = 0;
  OpenFile* opened = EnterFileCall(Call::ReadFile, file);
  if (opened == nullptr) return 0;
  if (opened->writable) {
    lastError_ = kErrorAccessDenied;
    return 0;
  }
  const std::string_view bytes = Contents(*opened);
  const std::string_view rest = bytes.substr(std::min(opened->position, bytes.size()));
  const std::size_t count = std::min<std::size_t>(size, rest.size());
  std::memcpy(buffer, rest.data(), count);
  opened->position += count;
  *read = static_cast<DWORD>(count);
  return 1;
}

BOOL ScriptedPlatform::WriteToFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  const auto open = openFiles_.find(static_cast<std::uintptr_t>(file));
  if (open == openFiles_.end() || !open->second.writable) {
    lastError_ = open == openFiles_.end() ? kErrorInvalidHandle : kErrorAccessDenied;
    return 0;
  }
  OpenFile& opened = open->second;
  std::string& bytes = files[opened.path];
  if (bytes.size() < opened.position) bytes.resize(opened.position);
  bytes.replace(opened.position, size, static_cast<const char*>(buffer), size);
  opened.position += size;
  if (written != nullptr) *written = size;
  return 1;
}

BOOL ScriptedPlatform::CloseHandle(HANDLE handle) {
  const auto value = static_cast<std::uintptr_t>(handle);
  // Released whether or not the call is made to report a failure, as a real close does.
  const bool known = openFiles_.erase(value) == 1 || processes_.erase(value) == 1;
  if (auto fault = Enter(Call::CloseHandle, HandleText(value))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (!known) lastError_ = kErrorInvalidHandle;
  return known ? 1 : 0;
}

BOOL ScriptedPlatform::DeleteFileW(const char16_t* fileName) {
  if (auto fault = Enter(Call::DeleteFileW, Text(fileName))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  const std::u16string_view path = Text(fileName);
  const ScriptedFolder folder = FolderOf(path);
  const auto found = files.find(path);
  const bool open = std::any_of(openFiles_.begin(), openFiles_.end(),
                                [&](const auto& entry) { return entry.second.path == path; });
  if (!folder.exists) {
    lastError_ = kErrorPathNotFound;
  } else if (found == files.end()) {
    lastError_ = kErrorFileNotFound;
  } else if (!folder.allowsDeletes) {
    lastError_ = kErrorAccessDenied;
  } else if (open) {
    lastError_ = kErrorSharingViolation;  // no handle shares delete access
  } else {
    files.erase(found);
    return 1;
  }
  return 0;
}

namespace {

// Copies a name and its NUL into the caller's buffer as GetComputerNameW and GetUserNameExW do:
// on success *size is the name's length; when it does not fit, the units needed with the NUL.
bool CopyName(std::u16string_view name, char16_t* buffer, DWORD* size) {
  if (name.size() + 1 > *size) {
    *size = static_cast<DWORD>(name.size() + 1);
    return false;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = u'\0';
  *size = static_cast<DWORD>(name.size());
  return true;
}

}  // namespace

BOOL ScriptedPlatform::GetComputerNameW(char16_t* buffer, DWORD* size) {
  if (auto fault = Enter(Call::GetComputerNameW, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (size == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  if (!CopyName(computerName, buffer, size)) {
    lastError_ = kErrorBufferOverflow;
    return 0;
  }
  return 1;
}

BOOL ScriptedPlatform::GetUserNameExW(DWORD nameFormat, char16_t* buffer, DWORD* size) {
  if (auto fault = Enter(Call::GetUserNameExW, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (nameFormat != kNameSamCompatible || size == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  if (!userName) {
    lastError_ = kErrorGenFailure;
    return 0;
  }
  const std::u16string name = domain ? *domain + u"\\" + *userName : *userName;
  if (!CopyName(name, buffer, size)) {
    lastError_ = kErrorMoreData;
    return 0;
  }
  return 1;
}

BOOL ScriptedPlatform::GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages,
                                                   char16_t* buffer, DWORD* bufferSize) {
  if (auto fault = Enter(Call::GetUserPreferredUILanguages, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  const LONG error = CopyLanguageList(uiLanguages, flags, numLanguages, buffer, bufferSize);
  if (error != kErrorSuccess) lastError_ = static_cast<DWORD>(error);
  return error == kErrorSuccess ? 1 : 0;
}

std::size_t ScriptedPlatform::VirtualQuery(const void* address, MemoryBasicInformation* info,
                                           std::size_t infoSize) {
  if (auto fault = Enter(Call::VirtualQuery, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (address == nullptr || info == nullptr || infoSize < sizeof *info) return 0;
  // Every address counts as part of the executable's image.
  *info = MemoryBasicInformation{};
  info->BaseAddress = address;
  info->AllocationBase = reinterpret_cast<const void*>(imageBase);
  info->State = kMemCommit;
  return sizeof *info;
}

DWORD ScriptedPlatform::GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) {
  if (auto fault =
          Enter(Call::GetModuleFileNameW, HandleText(static_cast<std::uintptr_t>(module)))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  if (module != kExecutableModule && static_cast<std::uintptr_t>(module) != imageBase) {
    lastError_ = kErrorInvalidHandle;
    return 0;
  }
  if (size == 0) return 0;
  const std::size_t length = modulePath.size() < size ? modulePath.size() : size - 1;
  modulePath.copy(buffer, length);
  buffer[length] = u'\0';
  if (length < modulePath.size()) {
    lastError_ = kErrorInsufficientBuffer;
    return size;
  }
  return static_cast<DWORD>(length);
}

int ScriptedPlatform::LoadStringW(HMODULE, UINT id, char16_t* buffer, int capacity) {
  if (auto fault = Enter(Call::LoadStringW, HandleText(id))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  return CopyBuiltInMessage(id, buffer, capacity);
}

void ScriptedPlatform::ExitProcess(UINT exitCode) {
  Enter(Call::ExitProcess, HandleText(exitCode));
  throw ProcessExit{exitCode};
}

BOOL ScriptedPlatform::InstallFaultHandler(FaultHandler handler) {
  if (auto fault = Enter(Call::InstallFaultHandler, u"")) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  faultHandler_ = handler;
  return 1;
}

BOOL ScriptedPlatform::GetFileVersionInfoW(HANDLE file, const char16_t* fileName, DWORD* size,
                                           void* data) {
  if (auto fault = Enter(Call::GetFileVersionInfoW, Text(fileName))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  const auto open = openFiles_.find(static_cast<std::uintptr_t>(file));
  if (open == openFiles_.end() || open->second.writable || open->second.pipe) {
    lastError_ = kErrorInvalidHandle;
    return 0;
  }
  // The name must be the held file's: Windows reads the resource by the name, which only the
  // handle on that very file keeps from being replaced.
  if (fileName == nullptr || open->second.path != fileName || size == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  const std::optional<ScriptedProgram>& program = open->second.program;
  if (!program || !program->versionBlock) {
    lastError_ = static_cast<DWORD>(program ? program->versionError : kErrorBadExeFormat);
    return 0;
  }
  const std::string& block = *program->versionBlock;
  if (block.size() > *size) {
    *size = static_cast<DWORD>(block.size());
    lastError_ = kErrorInsufficientBuffer;
    return 0;
  }
  std::memcpy(data, block.data(), block.size());
  *size = static_cast<DWORD>(block.size());
  return 1;
}

BOOL ScriptedPlatform::CreateProcessW(HANDLE programFile, const char16_t* applicationName,
                                      const char16_t* commandLine, HANDLE* output,
                                      HANDLE* process) {
  if (auto fault = Enter(Call::CreateProcessW, Text(applicationName))) {
    lastError_ = static_cast<DWORD>(*fault);
    return 0;
  }
  const auto open = openFiles_.find(static_cast<std::uintptr_t>(programFile));
  if (open == openFiles_.end() || open->second.writable || open->second.pipe) {
    lastError_ = kErrorInvalidHandle;
    return 0;
  }
  if (applicationName == nullptr || open->second.path != applicationName ||
      commandLine == nullptr || output == nullptr || process == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  const std::optional<ScriptedProgram>& program = open->second.program;
  if (!program || program->startError) {
    lastError_ = static_cast<DWORD>(program ? *program->startError : kErrorBadExeFormat);
    return 0;
  }
  starts.push_back({applicationName, commandLine});
  OpenFile pipe;
  pipe.path = u"(output of " + std::u16string(applicationName) + u")";
  pipe.pipe = program->output;
  const std::uintptr_t pipeHandle = nextFile_++;
  const std::uintptr_t processHandle = nextProcess_++;
  openFiles_[pipeHandle] = std::move(pipe);
  processes_[processHandle] = RunningProgram{*program, std::nullopt};
  *output = static_cast<HANDLE>(pipeHandle);
  *process = static_cast<HANDLE>(processHandle);
  if (program->onStart) program->onStart();
  return 1;
}

ScriptedPlatform::RunningProgram* ScriptedPlatform::EnterProcessCall(Call call, HANDLE process,
                                                                     std::u16string_view detail) {
  if (auto fault = Enter(call, detail)) {
    lastError_ = static_cast<DWORD>(*fault);
    return nullptr;
  }
  const auto found = processes_.find(static_cast<std::uintptr_t>(process));
  if (found == processes_.end()) {
    lastError_ = kErrorInvalidHandle;
    return nullptr;
  }
  return &found->second;
}

DWORD ScriptedPlatform::WaitForSingleObject(HANDLE process, DWORD milliseconds) {
  // Logged with the time it would wait, which is what a caller gets wrong.
  const RunningProgram* running =
      EnterProcessCall(Call::WaitForSingleObject, process, HandleText(milliseconds));
  if (running == nullptr) return kWaitFailed;
  return running->Ended() ? kWaitObject0 : kWaitTimeout;
}

BOOL ScriptedPlatform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  const RunningProgram* running = EnterProcessCall(
      Call::GetExitCodeProcess, process, HandleText(static_cast<std::uintptr_t>(process)));
  if (running == nullptr) return 0;
  if (exitCode == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return 0;
  }
  if (running->terminatedWith) {
    *exitCode = *running->terminatedWith;
  } else {
    *exitCode = running->Ended() ? running->program.exitStatus : kStillActive;
  }
  return 1;
}

BOOL ScriptedPlatform::TerminateProcess(HANDLE process, UINT exitCode) {
  RunningProgram* running = EnterProcessCall(Call::TerminateProcess, process,
                                             HandleText(static_cast<std::uintptr_t>(process)));
  if (running == nullptr) return 0;
  if (running->Ended()) {
    lastError_ = kErrorAccessDenied;  // as Windows answers for a program that has ended
    return 0;
  }
  running->terminatedWith = exitCode;
  return 1;
}

const char16_t* ScriptedPlatform::GetCommandLineW() {
  Enter(Call::GetCommandLineW, u"");
  commandLineText_ = commandLine ? *commandLine : u"\"" + modulePath + u"\"";
  return commandLineText_.c_str();
}

}  // namespace zelmora::platform
