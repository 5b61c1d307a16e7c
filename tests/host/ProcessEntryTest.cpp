#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "host/Exceptions.h"
#include "host/FailureReport.h"
#include "host/InOutMessages.h"
#include "host/MessageTexts.h"
#include "host/OutOfMemory.h"
#include "host/ProcessEntry.h"
#include "installer/StdOutChannel.h"
#include "platform/scripted/ScriptedPlatform.h"
#include "tests/support/RunFixture.h"

namespace zelmora::testing {
namespace {

using platform::Call;
using platform::ScriptedPlatform;

// Where the first call of that kind falls in an undisturbed process whose standard output is
// of the given type.
std::size_t FirstCallOf(Call call, platform::DWORD outputType = platform::kFileTypePipe) {
  ScriptedPlatform clean;
  clean.out.fileType = outputType;
  platform::ScopedSystem system(clean);
  try {
    ProcessEntry(ToolInstallation());
  } catch (const platform::ProcessExit&) {
  }
  std::size_t position = 0;
  while (clean.Log().at(position).call != call) ++position;
  return position;
}

// A whole process on the scripted platform: its status, or what ended it.
class Process : public ::testing::Test {
 protected:
  Process() {
    ExitStatus = 0;
    UseInstallation(ToolInstallation());
  }

  platform::UINT Run() {
    return RunEnding([] { ProcessEntry(ToolInstallation()); });
  }

  template <typename Ending>
  platform::UINT RunEnding(Ending ending) {
    platform::ScopedSystem system(platform);
    try {
      ending();
    } catch (const platform::ProcessExit& exit) {
      EXPECT_FALSE(FailureReporterInstalled());
      EXPECT_FALSE(OutOfMemoryInstance());
      EXPECT_FALSE(InOutMessagesLoaded());
      EXPECT_FALSE(MessageOverridesLoaded());
      return exit.status;
    }
    ADD_FAILURE() << "the process did not end";
    return 0;
  }

  // The report's two lines and the empty line after them.
  void ExpectReport(const std::string& className, const std::string& secondLine) {
    const std::regex shape(
        "Exception " + className + " in module zelmora-setup\\.exe at [0-9A-F]{16}\\.\r\n" +
        std::regex_replace(secondLine, std::regex(R"([.()])"), R"(\$&)") + "\r\n\r\n");
    EXPECT_TRUE(std::regex_match(platform.err.bytes, shape)) << platform.err.bytes;
  }

  ScriptedPlatform platform;
};

TEST_F(Process, ACompleteRunEndsWithStatusZeroAndNothingOnStandardError) {
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(platform.out.bytes, kInstalled);
  EXPECT_EQ(platform.err.bytes, "");
  EXPECT_EQ(platform.Log().back().call, Call::ExitProcess);
}

TEST_F(Process, InstallationErrorIsANormalEndWithStatusZero) {
  platform.FailCall(Call::RegSetValueExW, 2, platform::kErrorAccessDenied);
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(platform.out.bytes, kInstallationError);
  EXPECT_EQ(platform.err.bytes, "");
}

TEST_F(Process, UnusableStandardOutputIsReportedOnStandardErrorWithStatusOne) {
  platform.out.fileType = platform::kFileTypeUnknown;
  EXPECT_EQ(Run(), 1u);
  ExpectReport("EInOutError", "I/O error 105.");
  EXPECT_EQ(platform.out.bytes, "");
}

TEST_F(Process, AFailedConsoleWriteReportsItsCodesMessage) {
  platform.out.fileType = platform::kFileTypeChar;
  platform.FailCall(Call::WriteFile, 1, 101);
  EXPECT_EQ(Run(), 1u);
  ExpectReport("EInOutError", "Disk full.");
}

// Stage one fails (memory, inside its first registry call), its message waits in the buffer
// for the pipe, and then the result line cannot be converted.
void BreakStageOneAndTheResultLine(ScriptedPlatform& platform) {
  platform.ExhaustMemoryAt(FirstCallOf(Call::RegCreateKeyExW));
  platform.FailCall(Call::WideCharToMultiByte, 3, platform::kErrorAccessDenied);
}

TEST_F(Process, PendingOutputReachesStandardOutputBeforeTheReport) {
  BreakStageOneAndTheResultLine(platform);
  EXPECT_EQ(Run(), 1u);
  EXPECT_EQ(platform.out.bytes, "Error in accessing the registry\r\n");
  ExpectReport("EInOutError", "File access denied.");
}

TEST_F(Process, ReportIsWrittenEvenWhenThePendingOutputCannotBe) {
  BreakStageOneAndTheResultLine(platform);
  platform.FailCall(Call::WriteFile, 1, platform::kErrorDiskFull);  // the flush before the report
  EXPECT_EQ(Run(), 1u);
  EXPECT_EQ(platform.out.bytes, "");
  ExpectReport("EInOutError", "File access denied.");
}

TEST_F(Process, MemoryExhaustionInAnUnguardedStepIsReportedAsOutOfMemory) {
  const std::size_t write = FirstCallOf(Call::WriteFile, platform::kFileTypeChar);
  ScriptedPlatform p;
  p.out.fileType = platform::kFileTypeChar;
  p.ExhaustMemoryAt(write);
  platform::ScopedSystem system(p);
  try {
    ProcessEntry(ToolInstallation());
    FAIL();
  } catch (const platform::ProcessExit& exit) {
    EXPECT_EQ(exit.status, 1u);
  }
  EXPECT_EQ(p.err.bytes,
            "Exception EOutOfMemory in module zelmora-setup.exe at 0000000000000000.\r\n"
            "Out of memory.\r\n\r\n");
}

TEST_F(Process, AFailureDuringStartUpGivesTheFallbackLineAndStatus217) {
  // Every call of start-up in turn: each one that can run out of memory ends the process the
  // same way, with what was started finalised; but the message lookup's calls only leave the
  // built-in texts, and the run goes on.
  const std::set<Call> lookup = {Call::GetModuleFileNameW, Call::RegGetValueW,
                                 Call::GetUserPreferredUILanguages, Call::CreateFileW,
                                 Call::GetLastError};
  ScriptedPlatform clean;
  {
    platform::ScopedSystem system(clean);
    try {
      StartUp();
    } catch (...) {
    }
    try {
      ShutDown();
    } catch (const platform::ProcessExit&) {
    }
  }
  const std::size_t startUpCalls = clean.Log().size() - 1;  // without ExitProcess
  ASSERT_GT(startUpCalls, 7u);
  std::map<bool, int> seen;
  for (std::size_t k = 0; k < startUpCalls; ++k) {
    const bool inLookup = lookup.contains(clean.Log()[k].call);
    ++seen[inLookup];
    ScriptedPlatform p;
    p.ExhaustMemoryAt(k);
    platform::ScopedSystem system(p);
    ExitStatus = 0;
    try {
      ProcessEntry(ToolInstallation());
    } catch (const platform::ProcessExit& exit) {
      EXPECT_EQ(exit.status, inLookup ? 0u : 217u);
    }
    EXPECT_EQ(p.out.bytes, inLookup ? kInstalled : "Runtime error 217 at 0000000000000000\r\n");
    EXPECT_EQ(p.err.bytes, "");
    EXPECT_FALSE(FailureReporterInstalled());
    EXPECT_FALSE(OutOfMemoryInstance());
    EXPECT_FALSE(InOutMessagesLoaded());
  }
  EXPECT_GT(seen[true], 5);
  EXPECT_GT(seen[false], 7);
}

TEST_F(Process, FallbackLinePutsTheNumberAtColumn17AndTheAddressAtColumn37) {
  struct Case {
    std::int32_t number;
    std::uintptr_t address;
    std::string line;
  };
  for (const Case& c : {Case{217, 0x1A2B, "Runtime error 217 at 0000000000001A2B\r\n"},
                        Case{5, 0, "Runtime error   5 at 0000000000000000\r\n"},
                        Case{1234, 0x7FFFFFFFFFFF, "Runtime error1234 at 00007FFFFFFFFFFF\r\n"}}) {
    ScriptedPlatform p;
    platform::ScopedSystem system(p);
    try {
      WriteFallbackLine(c.number, reinterpret_cast<const void*>(c.address));
    } catch (const platform::ProcessExit& exit) {
      EXPECT_EQ(exit.status, static_cast<platform::UINT>(c.number));
    }
    EXPECT_EQ(p.out.bytes, c.line);
    EXPECT_EQ(p.out.bytes.size(), 39u);
  }
}

TEST_F(Process, FallbackLineFollowsWhatTheChannelStillHeld) {
  platform::ScopedSystem system(platform);
  StdOut().SetUp();
  StdOut().WriteLine(u"held");
  try {
    WriteFallbackLine(217, nullptr);
  } catch (const platform::ProcessExit&) {
  }
  EXPECT_EQ(platform.out.bytes, "held\r\nRuntime error 217 at 0000000000000000\r\n");
}

class ReportText : public ::testing::Test {
 protected:
  std::u16string Text(const std::exception_ptr& failure, const void* point) {
    std::array<char16_t, kReportCapacity> out;
    return std::u16string(out.data(), FailureReportText(failure, point, out.data()));
  }
  ScriptedPlatform platform;
  platform::ScopedSystem system{platform};
};

TEST_F(ReportText, SecondLineIsTheMessageWithAPeriodUnlessItHasOne) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Disk full", u"Disk full.\r\n"},
      {u"Already ends.", u"Already ends.\r\n"},
      {u"", u"\r\n"},
      {u"\u05E7", u"\u05E7.\r\n"},
  };
  for (const auto& [message, second] : cases) {
    const auto text = Text(std::make_exception_ptr(Exception(message)), nullptr);
    EXPECT_TRUE(text.ends_with(u".\r\n" + second));
  }
}

TEST_F(ReportText, NamesTheClassTheModuleAndTheOffsetIntoIt) {
  platform.imageBase = 0x400000;
  platform.modulePath = u"C:\\Tools\\Sub\\zelmora-setup.exe";
  const auto* point = reinterpret_cast<const void*>(0x401234);
  EXPECT_EQ(Text(std::make_exception_ptr(EInOutError(105)), point),
            u"Exception EInOutError in module zelmora-setup.exe at 0000000000001234.\r\n"
            u"I/O error 105.\r\n");
  // Memory the query knows nothing of: the executable, and the point less 4096.
  platform.FailCall(Call::VirtualQuery, 2, 87);
  EXPECT_EQ(Text(std::make_exception_ptr(ERegistryException(u"x")), point),
            u"Exception ERegistryException in module zelmora-setup.exe at 0000000000400234.\r\n"
            u"x.\r\n");
}

TEST_F(ReportText, IsCutAt1024Units) {
  const auto text = Text(std::make_exception_ptr(Exception(std::u16string(3000, u'm'))), nullptr);
  EXPECT_EQ(text.size(), 1024u);
  EXPECT_EQ(text.back(), u'm');
}

TEST(InOutErrorMessage, UsesTheTableAndFormatsOtherCodes) {
  ScriptedPlatform platform;
  platform::ScopedSystem system(platform);
  const std::pair<std::int32_t, std::u16string> cases[] = {
      {2, u"File not found"},
      {3, u"Invalid filename"},
      {4, u"Too many open files"},
      {5, u"File access denied"},
      {100, u"Read beyond end of file"},
      {101, u"Disk full"},
      {106, u"Invalid numeric input"},
      {105, u"I/O error 105"},
      {112, u"I/O error 112"},
      {-2147483647 - 1, u"I/O error -2147483648"},
  };
  for (const bool loaded : {false, true}) {
    if (loaded) LoadInOutMessages();
    for (const auto& [code, text] : cases) EXPECT_EQ(InOutErrorMessage(code), text) << code;
  }
  ReleaseInOutMessages();
}

TEST_F(Process, ReportIsConvertedToTheOemCodePage) {
  platform.oemCodePage = 20127;
  platform::ScopedSystem system(platform);
  try {
    ReportFailure(std::make_exception_ptr(Exception(u"\u05E7\u05E8\u05DF")), nullptr);
  } catch (const platform::ProcessExit& exit) {
    EXPECT_EQ(exit.status, 1u);
  }
  EXPECT_TRUE(platform.err.bytes.ends_with("\r\n???.\r\n\r\n")) << platform.err.bytes;
  EXPECT_EQ(ExitStatus, 1);
}

}  // namespace
}  // namespace zelmora::testing
