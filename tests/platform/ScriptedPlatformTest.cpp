// What the launcher's tests rely on without showing it: a held program is the one opened, and the
// calls refuse what the real ones refuse.
#include "platform/scripted/ScriptedPlatform.h"

#include <gtest/gtest.h>

namespace zelmora::platform {
namespace {

constexpr const char16_t* kTool = u"C:\\Apps\\zelmora-setup.exe";

HANDLE OpenToRead(ScriptedPlatform& platform, const char16_t* path) {
  return platform.CreateFileW(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting,
                              kFileAttributeNormal, kNoHandle);
}

TEST(ScriptedPlatform, AHeldProgramIsTheOneOpenedWhateverThePathHoldsLater) {
  ScriptedPlatform platform;
  platform.programs[kTool] = {"old block", kErrorResourceTypeNotFound, {}, "old\r\n", 0, false, {}};
  const HANDLE held = OpenToRead(platform, kTool);
  platform.programs[kTool] = {"new block", kErrorResourceTypeNotFound, {}, "new\r\n", 5, false, {}};

  char block[16];
  DWORD size = sizeof block;
  ASSERT_TRUE(platform.GetFileVersionInfoW(held, kTool, &size, block));
  EXPECT_EQ(std::string(block, size), "old block");
  size = sizeof block;
  EXPECT_FALSE(platform.GetFileVersionInfoW(held, u"C:\\Apps\\other.exe", &size, block));
  EXPECT_EQ(platform.GetLastError(), static_cast<DWORD>(kErrorInvalidParameter));

  HANDLE output = kNoHandle, process = kNoHandle;
  ASSERT_TRUE(platform.CreateProcessW(held, kTool, u"\"x\"", &output, &process));
  char bytes[16];
  DWORD read = 0;
  ASSERT_TRUE(platform.ReadFile(output, bytes, sizeof bytes, &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), "old\r\n");
  DWORD status = 1;
  EXPECT_TRUE(platform.GetExitCodeProcess(process, &status) && status == 0) << status;
  // Ended already: TerminateProcess is refused, as on Windows.
  EXPECT_FALSE(platform.TerminateProcess(process, 26));
  EXPECT_EQ(platform.GetLastError(), static_cast<DWORD>(kErrorAccessDenied));
  for (const HANDLE handle : {held, output, process}) EXPECT_TRUE(platform.CloseHandle(handle));
}

TEST(ScriptedPlatform, OnlyThePlatformsTwoWaysOfOpeningAFileAreTaken) {
  ScriptedPlatform platform;
  platform.files[u"C:\\t\\log"] = "x";
  const struct {
    DWORD access, share, disposition;
    bool opens;
  } cases[] = {
      {kGenericRead, kFileShareRead, kOpenExisting, true},
      {kGenericWrite, 0, kCreateAlways, true},
      {kGenericWrite, kFileShareRead, kCreateAlways, false},
      {kGenericRead | kGenericWrite, 0, kCreateAlways, false},
      {kGenericRead, 0, kOpenExisting, false},
      {kGenericWrite, 0, kOpenExisting, false},
  };
  for (const auto& c : cases) {
    const HANDLE file = platform.CreateFileW(u"C:\\t\\log", c.access, c.share, nullptr,
                                             c.disposition, kFileAttributeNormal, kNoHandle);
    EXPECT_EQ(file != kInvalidHandle, c.opens) << c.access << " " << c.share;
    // An open file cannot be deleted: no handle shares delete access.
    if (file != kInvalidHandle) {
      EXPECT_FALSE(platform.DeleteFileW(u"C:\\t\\log"));
    }
    EXPECT_EQ(platform.GetLastError(),
              static_cast<DWORD>(c.opens ? kErrorSharingViolation : kErrorInvalidParameter));
    platform.CloseHandle(file);
  }
  EXPECT_TRUE(platform.DeleteFileW(u"C:\\t\\log"));
}

}  // namespace
}  // namespace zelmora::platform
