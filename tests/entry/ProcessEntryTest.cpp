#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>

#include "entry/FailureReport.h"
#include "entry/ProcessEntry.h"
#include "installer/InstallationRun.h"
#include "platform/scripted/ScriptedPlatform.h"
#include "registry/Exceptions.h"
#include "registry/InOutMessages.h"
#include "registry/MessageTexts.h"
#include "registry/OutOfMemory.h"
#include "registry/StdOutChannel.h"
#include "registry/TextFormat.h"
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

// Stage one fails (memory, inside its first registry call), and its message waits in the
// buffer for the pipe.
void BreakStageOne(ScriptedPlatform& platform) {
  platform.ExhaustMemoryAt(FirstCallOf(Call::RegCreateKeyExW));
}

// ... and then the result line cannot be converted.
void BreakStageOneAndTheResultLine(ScriptedPlatform& platform) {
  BreakStageOne(platform);
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

TEST_F(Process, TheOutOfMemoryInstanceOutlivesItsHandlersAndOnlyShutDownFreesIt) {
  platform::ScopedSystem system(platform);
  StartUp();
  const auto raised = []() -> const EOutOfMemory* {
    try {
      RaiseOutOfMemory();
    } catch (const EOutOfMemory& failure) {
      return &failure;
    }
    return nullptr;
  };
  const EOutOfMemory* first = raised();
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->AllowFree());
  EXPECT_FALSE(FreeOutOfMemoryInstance());
  ASSERT_TRUE(OutOfMemoryInstance());
  EXPECT_EQ(raised(), first);
  EXPECT_THROW(ShutDown(), platform::ProcessExit);
  EXPECT_FALSE(OutOfMemoryInstance());
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
  // The fault handler's installation comes first, then start-up's calls.
  for (std::size_t k = 0; k <= startUpCalls; ++k) {
    const bool inLookup = k > 0 && lookup.contains(clean.Log()[k - 1].call);
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

TEST_F(Process, AProgramThatDeclinesTranslationStartsWithoutTheLookupsReadsAndProbes) {
  Installation tool = ToolInstallation();
  Installation untranslated = tool;
  untranslated.translated = false;
  std::map<bool, std::size_t> lookupCalls;
  for (const Installation* used : {&tool, &untranslated}) {
    ScriptedPlatform p;
    platform::ScopedSystem system(p);
    UseInstallation(*used);
    StartUp();
    EXPECT_THROW(ShutDown(), platform::ProcessExit);
    for (const auto& entry : p.Log()) {
      lookupCalls[used->translated] +=
          entry.call == Call::RegGetValueW || entry.call == Call::GetModuleFileNameW ||
          entry.call == Call::GetUserPreferredUILanguages || entry.call == Call::CreateFileW;
    }
  }
  EXPECT_GE(lookupCalls[true], 4u);
  EXPECT_EQ(lookupCalls[false], 0u);
}

// A processor fault, handed over as the system would: told by where it strikes, and never
// twice.
TEST_F(Process, AProcessorFaultIsToldLikeAnEscapedFailureAndNeverTwice) {
  static const platform::ProcessorFault fault{platform::FaultKind::InvalidWrite,
                                              reinterpret_cast<const void*>(0x140001234),
                                              reinterpret_cast<const void*>(0x28)};
  const std::string fallback = "Runtime error 217 at 0000000140001234\r\n";
  struct Case {
    const char* where;
    void (*prepare)(ScriptedPlatform&);
    Call call;  // whose nth call faults
    int nth;
    platform::UINT status;
    std::string out;
    std::string err;
  };
  const auto nothing = [](ScriptedPlatform&) {};
  const Case cases[] = {
      {"in the run, with a line waiting in the buffer", &BreakStageOne, Call::WideCharToMultiByte,
       3, 1, "Error in accessing the registry\r\n",
       "Exception EAccessViolation in module zelmora-setup.exe at 0000000000001234.\r\n"
       "Access violation: write of address 0000000000000028.\r\n\r\n"},
      {"before the reporter is installed", nothing, Call::LoadStringW, 1, 217, fallback, ""},
      {"in start-up, with the reporter installed", nothing, Call::LoadStringW, 2, 217, fallback,
       ""},
      {"in the fallback line", [](ScriptedPlatform& p) { p.FaultAt(Call::LoadStringW, 1, fault); },
       Call::WriteFile, 2, 217, "Runtime error 217 at 0000000140001234", ""},
      {"in the report of a failure",
       [](ScriptedPlatform& p) { p.out.fileType = platform::kFileTypeUnknown; }, Call::VirtualQuery,
       1, 1, "", ""},
      {"in the report of a fault",
       [](ScriptedPlatform& p) {
         BreakStageOne(p);
         p.FaultAt(Call::WideCharToMultiByte, 3, fault);
       },
       Call::VirtualQuery, 1, 1, "", ""},
      {"with no handler installed, which does not stop the run",
       [](ScriptedPlatform& p) {
         p.FailCall(Call::InstallFaultHandler, 1, platform::kErrorAccessDenied);
       },
       Call::WideCharToMultiByte, 1, ScriptedPlatform::kUnhandledFaultStatus, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    ScriptedPlatform p;
    c.prepare(p);
    p.FaultAt(c.call, c.nth, fault);
    {
      platform::ScopedSystem system(p);
      try {
        ProcessEntry(ToolInstallation());
        ADD_FAILURE() << "the process did not end";
      } catch (const platform::ProcessExit& exit) {
        EXPECT_EQ(exit.status, c.status);
      }
    }
    EXPECT_EQ(p.out.bytes, c.out);
    EXPECT_EQ(p.err.bytes, c.err);
    // A fault ends the process without finishing the services; the next case needs them done.
    ScriptedPlatform finishing;
    platform::ScopedSystem system(finishing);
    EXPECT_THROW(ShutDown(), platform::ProcessExit);
  }
}

// Another program's failure statuses, as the launcher hands them in: its failures are told the
// same way, each ending with that program's status.
TEST_F(Process, AProgramsOwnFailureStatusesEndItsFailures) {
  static const platform::ProcessorFault fault{platform::FaultKind::DivisionByZero, nullptr,
                                              nullptr};
  const Installation program{[]() -> platform::UINT {
                               char16_t name[8];
                               platform::DWORD size = 8;
                               static_cast<void>(platform::System().GetUserNameW(name, &size));
                               throw ERegistryException(u"x");
                             },
                             &StdOut(),
                             {27, 28}};
  const struct {
    const char* where;
    std::function<void(ScriptedPlatform&)> prepare;
    platform::UINT status;
    std::string out;
    std::string err;  // how the report starts
  } cases[] = {
      {"in the run", [](ScriptedPlatform&) {}, 27, "", "Exception ERegistryException "},
      {"a fault in the run", [](ScriptedPlatform& p) { p.FaultAt(Call::GetUserNameW, 1, fault); },
       27, "", "Exception EDivisionByZero "},
      {"in start-up", [](ScriptedPlatform& p) { p.ExhaustMemoryAt(1); }, 28,
       "Runtime error  28 at 0000000000000000\r\n", ""},
      {"a fault in start-up", [](ScriptedPlatform& p) { p.FaultAt(Call::LoadStringW, 1, fault); },
       28, "Runtime error  28 at 0000000000000000\r\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    ScriptedPlatform p;
    c.prepare(p);
    {
      platform::ScopedSystem system(p);
      try {
        ProcessEntry(program);
        ADD_FAILURE() << "the process did not end";
      } catch (const platform::ProcessExit& exit) {
        EXPECT_EQ(exit.status, c.status);
      }
    }
    EXPECT_EQ(p.out.bytes, c.out);
    EXPECT_TRUE(p.err.bytes.starts_with(c.err)) << p.err.bytes;
    EXPECT_EQ(p.err.bytes.empty(), c.err.empty());
    ScriptedPlatform finishing;
    platform::ScopedSystem system(finishing);
    EXPECT_THROW(ShutDown(), platform::ProcessExit);
  }
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

// The tool's channel as the entry drives it, noting which of the other services run when it is
// set up and when it is closed.
class WatchedChannel final : public OutputChannel {
 public:
  struct Services {
    bool reporter, outOfMemory, messages;
    bool operator==(const Services&) const = default;
  };
  void SetUp() override {
    atSetUp = Now();
    StdOut().SetUp();
  }
  bool IsOpen() const override { return StdOut().IsOpen(); }
  std::size_t BufferedByteCount() const override { return StdOut().BufferedByteCount(); }
  void Flush() override { StdOut().Flush(); }
  void Close() override {
    atClose = Now();
    StdOut().Close();
  }
  std::int32_t TakePendingIoCode() override { return StdOut().TakePendingIoCode(); }

  std::optional<Services> atSetUp, atClose;

 private:
  static Services Now() {
    return {FailureReporterInstalled(), OutOfMemoryInstance() != nullptr, InOutMessagesLoaded()};
  }
};

// The channel starts first and so is finished last, after the reporter is removed, however the
// process ends.
TEST_F(Process, TheChannelIsSetUpBeforeAndClosedAfterEveryOtherService) {
  const std::size_t run = FirstCallOf(Call::GetEnvironmentVariableW);
  std::size_t lastStartUpCall = run;
  {
    ScriptedPlatform clean;
    platform::ScopedSystem system(clean);
    try {
      ProcessEntry(ToolInstallation());
    } catch (const platform::ProcessExit&) {
    }
    while (clean.Log().at(lastStartUpCall - 1).call != Call::LoadStringW) --lastStartUpCall;
  }
  const struct {
    const char* ending;
    std::function<void(ScriptedPlatform&)> prepare;
    platform::UINT status;
  } cases[] = {
      {"complete run", [](ScriptedPlatform&) {}, 0},
      {"escaped failure", [](ScriptedPlatform& p) { p.out.fileType = platform::kFileTypeUnknown; },
       1},
      {"failure in the last start-up step",
       [&](ScriptedPlatform& p) { p.ExhaustMemoryAt(lastStartUpCall - 1); }, 217},
  };
  const WatchedChannel::Services none{false, false, false};
  for (const auto& [ending, prepare, status] : cases) {
    SCOPED_TRACE(ending);
    ScriptedPlatform p;
    prepare(p);
    WatchedChannel channel;
    const Installation watched{&RunToolInstallation, &channel, {1, 217}};
    platform::ScopedSystem system(p);
    ExitStatus = 0;
    try {
      ProcessEntry(watched);
      ADD_FAILURE() << "the process did not end";
    } catch (const platform::ProcessExit& exit) {
      EXPECT_EQ(exit.status, status);
    }
    EXPECT_EQ(channel.atSetUp, none);
    EXPECT_EQ(channel.atClose, none);
  }
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

// The other kinds are caused, and their reports checked, in real processes on both builds.
TEST_F(ReportText, NamesTheProcessorFaultsThatTheRealProcessesDoNotCause) {
  platform.imageBase = 0x400000;
  using enum platform::FaultKind;
  struct Case {
    platform::FaultKind kind;
    std::u16string className;
    std::u16string message;
  };
  const Case cases[] = {
      {InvalidAccess, u"EAccessViolation",
       u"Access violation: read or write of address FFFFFFFFFFFFFFF0"},
      {IntegerOverflow, u"EIntegerOverflow", u"Integer overflow"},
      {FloatingPoint, u"EFloatingPointFault", u"Floating-point fault"},
  };
  for (const Case& c : cases) {
    std::array<char16_t, kReportCapacity> out;
    const platform::ProcessorFault fault{c.kind, reinterpret_cast<const void*>(0x401234),
                                         reinterpret_cast<const void*>(0xFFFFFFFFFFFFFFF0)};
    EXPECT_EQ(std::u16string(out.data(), FaultReportText(fault, out.data())),
              u"Exception " + c.className +
                  u" in module zelmora-setup.exe at 0000000000001234.\r\n" + c.message + u".\r\n");
  }
}

TEST_F(ReportText, IsCutAt1024Units) {
  const auto text = Text(std::make_exception_ptr(Exception(std::u16string(3000, u'm'))), nullptr);
  EXPECT_EQ(text.size(), 1024u);
  EXPECT_EQ(text.back(), u'm');
}

// As a translation may write them: %% is one percent sign, a stray one stands for itself, and a
// placeholder without its argument stays empty.
TEST(FormatText, FillsThePlaceholdersInOrder) {
  EXPECT_EQ(FormatText(u"100%% %d%", {std::int32_t{-7}}), u"100% -7%");
  EXPECT_EQ(FormatText(u"%x%s%p%s", {std::u16string_view(u"ab"), std::uintptr_t{255}}),
            u"%xab00000000000000FF");
  EXPECT_EQ(FormatText(u"%%%%d", {}), u"%%d");
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
