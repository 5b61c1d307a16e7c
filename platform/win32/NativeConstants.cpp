// Compile-time proof that the portable types and constants of Platform.h match the Windows
// headers, so that the back-end can pass every value through unconverted. Generates no code.
#include <windows.h>
// For NameSamCompatible alone: nothing of secur32 is called.
#define SECURITY_WIN32
#include <secext.h>

#include <cstdint>
#include <type_traits>

#include "platform/Platform.h"

namespace zelmora::platform {
namespace {

// The headers define the predefined keys and INVALID_HANDLE_VALUE as integer-to-pointer casts,
// which are no constant expressions. Expanded where the handle types name an integer type, the
// same macros give their values as integers.
namespace handle_bits {
using HKEY = ::ULONG_PTR;
using HANDLE = ::ULONG_PTR;
constexpr std::uintptr_t kClassesRoot = HKEY_CLASSES_ROOT;
constexpr std::uintptr_t kCurrentUser = HKEY_CURRENT_USER;
constexpr std::uintptr_t kLocalMachine = HKEY_LOCAL_MACHINE;
constexpr std::uintptr_t kUsers = HKEY_USERS;
constexpr std::uintptr_t kInvalidHandleValue = INVALID_HANDLE_VALUE;
}  // namespace handle_bits

constexpr std::uintptr_t Bits(HKEY key) { return static_cast<std::uintptr_t>(key); }

static_assert(sizeof(char16_t) == sizeof(wchar_t), "UTF-16 text is passed as wide strings");
static_assert(sizeof(DWORD) == sizeof(::DWORD) && std::is_unsigned_v<::DWORD>);
static_assert(sizeof(LONG) == sizeof(::LONG) && std::is_signed_v<::LONG>);
static_assert(sizeof(UINT) == sizeof(::UINT) && std::is_unsigned_v<::UINT>);
static_assert(std::is_same_v<BOOL, ::BOOL>, "BOOL* is passed through as LPBOOL");
static_assert(sizeof(HKEY) == sizeof(::HKEY));
static_assert(sizeof(HANDLE) == sizeof(::HANDLE));
static_assert(sizeof(HMODULE) == sizeof(::HMODULE));

static_assert(Bits(kNoKey) == 0);
static_assert(Bits(kHkeyClassesRoot) == handle_bits::kClassesRoot);
static_assert(Bits(kHkeyCurrentUser) == handle_bits::kCurrentUser);
static_assert(Bits(kHkeyLocalMachine) == handle_bits::kLocalMachine);
static_assert(Bits(kHkeyUsers) == handle_bits::kUsers);
static_assert(static_cast<std::uintptr_t>(kInvalidHandle) == handle_bits::kInvalidHandleValue);

static_assert(kErrorSuccess == ERROR_SUCCESS);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorTooManyOpenFiles == ERROR_TOO_MANY_OPEN_FILES);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorWriteProtect == ERROR_WRITE_PROTECT);
static_assert(kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorBrokenPipe == ERROR_BROKEN_PIPE);
static_assert(kErrorDiskFull == ERROR_DISK_FULL);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorBadPathname == ERROR_BAD_PATHNAME);
static_assert(kErrorEnvvarNotFound == ERROR_ENVVAR_NOT_FOUND);
static_assert(kErrorFileTooLarge == ERROR_FILE_TOO_LARGE);
static_assert(kErrorMoreData == ERROR_MORE_DATA);
static_assert(kErrorRegistryCorrupt == ERROR_REGISTRY_CORRUPT);
static_assert(kErrorKeyDeleted == ERROR_KEY_DELETED);
static_assert(kErrorIoDevice == ERROR_IO_DEVICE);
static_assert(kErrorNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION);
static_assert(kErrorUnsupportedType == ERROR_UNSUPPORTED_TYPE);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorFileExists == ERROR_FILE_EXISTS);
static_assert(kErrorBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(kErrorBadExeFormat == ERROR_BAD_EXE_FORMAT);
static_assert(kErrorWaitTimeout == WAIT_TIMEOUT);
static_assert(kErrorAccessDisabledByPolicy == ERROR_ACCESS_DISABLED_BY_POLICY);
static_assert(kErrorResourceDataNotFound == ERROR_RESOURCE_DATA_NOT_FOUND);
static_assert(kErrorResourceTypeNotFound == ERROR_RESOURCE_TYPE_NOT_FOUND);

static_assert(kKeyAllAccess == KEY_ALL_ACCESS);
static_assert(kRegOptionNonVolatile == REG_OPTION_NON_VOLATILE);
static_assert(kRegCreatedNewKey == REG_CREATED_NEW_KEY);
static_assert(kRegOpenedExistingKey == REG_OPENED_EXISTING_KEY);
static_assert(kRegNone == REG_NONE);
static_assert(kRegSz == REG_SZ);
static_assert(kRegExpandSz == REG_EXPAND_SZ);
static_assert(kRegBinary == REG_BINARY);
static_assert(kRegDword == REG_DWORD);
static_assert(kRegMultiSz == REG_MULTI_SZ);
static_assert(kRegQword == REG_QWORD);
static_assert(kRrfRtRegSz == RRF_RT_REG_SZ);
static_assert(kRrfRtAny == RRF_RT_ANY);

static_assert(kStdOutputHandle == STD_OUTPUT_HANDLE);
static_assert(kStdErrorHandle == STD_ERROR_HANDLE);
static_assert(kFileTypeUnknown == FILE_TYPE_UNKNOWN);
static_assert(kFileTypeDisk == FILE_TYPE_DISK);
static_assert(kFileTypeChar == FILE_TYPE_CHAR);
static_assert(kFileTypePipe == FILE_TYPE_PIPE);
static_assert(kCodePageOem == CP_OEMCP);
static_assert(kCodePageUtf8 == CP_UTF8);
static_assert(kMemCommit == MEM_COMMIT);
static_assert(kGenericRead == GENERIC_READ);
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kCreateAlways == CREATE_ALWAYS);
static_assert(kInfinite == INFINITE);
static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kNameSamCompatible == static_cast<DWORD>(NameSamCompatible));
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kMuiLanguageName == MUI_LANGUAGE_NAME);
static_assert(sizeof(::ULONG) == sizeof(DWORD) && std::is_unsigned_v<::ULONG>);
static_assert(sizeof(std::int64_t) == sizeof(::LONGLONG));

}  // namespace
}  // namespace zelmora::platform
