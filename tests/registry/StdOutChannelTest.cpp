#include <gtest/gtest.h>

#include "registry/Exceptions.h"
#include "registry/StdOutChannel.h"
#include "tests/support/RunFixture.h"

namespace zelmora::testing {
namespace {

using platform::kFileTypeChar;
using platform::kFileTypeDisk;
using platform::kFileTypePipe;

class Channel : public RunFixture {};

TEST_F(Channel, StaysClosedUntilTheFirstWriteAndWritesNothingAtCloseThen) {
  EXPECT_FALSE(StdOut().IsOpen());
  EXPECT_EQ(StdOut().CodePage(), 0u);
  StdOut().Close();
  EXPECT_TRUE(platform.out.writeSizes.empty());
  EXPECT_EQ(StdOut().PendingIoCode(), 0);
}

TEST_F(Channel, CodePageIsTheConsolesForACharacterDeviceAndTheSystemsOtherwise) {
  platform.consoleCodePage = 20127;
  platform.ansiCodePage = 65001;
  for (const platform::DWORD type : {kFileTypeChar, kFileTypeDisk, kFileTypePipe}) {
    platform.out.fileType = type;
    StdOut().SetUp();
    StdOut().WriteLine(u"\u05E7");
    StdOut().Close();
    EXPECT_EQ(StdOut().CodePage(), type == kFileTypeChar ? 20127u : 65001u);
  }
  // Unmappable in the console's code page: the default character; UTF-8 elsewhere.
  EXPECT_EQ(platform.out.bytes, "?\r\n\xD7\xA7\r\n\xD7\xA7\r\n");
}

TEST_F(Channel, BuffersUpTo128BytesForFilesAndPipesAndWritesLinesOutOnAConsole) {
  const std::u16string line(200, u'x');  // 202 bytes with its line end
  struct Case {
    platform::DWORD type;
    std::vector<std::size_t> beforeClose;
    std::vector<std::size_t> afterClose;
  };
  for (const Case& c :
       {Case{kFileTypeDisk, {128}, {128, 74}}, Case{kFileTypePipe, {128}, {128, 74}},
        Case{kFileTypeChar, {128, 74}, {128, 74}}}) {
    ScriptedPlatform p;
    p.out.fileType = c.type;
    platform::ScopedSystem system(p);
    StdOut().SetUp();
    StdOut().WriteLine(line);
    EXPECT_EQ(p.out.writeSizes, c.beforeClose);
    StdOut().Close();
    EXPECT_EQ(p.out.writeSizes, c.afterClose);
    EXPECT_EQ(p.out.bytes, std::string(200, 'x') + "\r\n");
  }
}

TEST_F(Channel, FlushWritesOutWhateverTheHandle) {
  platform.out.fileType = kFileTypeDisk;
  StdOut().WriteLine(u"a");
  EXPECT_EQ(StdOut().BufferedByteCount(), 3u);
  StdOut().Flush();
  EXPECT_EQ(platform.out.bytes, "a\r\n");
  EXPECT_EQ(StdOut().BufferedByteCount(), 0u);
  EXPECT_TRUE(StdOut().IsOpen());
}

TEST_F(Channel, AnUnusableHandleLeavesCode105AndEveryLaterWriteTriesAgain) {
  platform.out.fileType = platform::kFileTypeUnknown;
  StdOut().WriteLine(u"lost");
  EXPECT_FALSE(StdOut().IsOpen());
  EXPECT_EQ(StdOut().PendingIoCode(), 105);
  platform.out.fileType = kFileTypePipe;  // usable now: the next write opens the channel
  StdOut().WriteLine(u"kept");
  StdOut().Close();
  EXPECT_EQ(platform.out.bytes, "kept\r\n");
}

TEST_F(Channel, WithinOneLineEachStepTriesToOpenAgainAndOnlyAFailedStepLosesItsBytes) {
  struct Case {
    int failedTypeQueries;  // the first n GetFileType calls see no usable handle
    std::string written;
  };
  for (const Case& c : {Case{1, "text\r\n"}, Case{2, "\r\n"}, Case{3, ""}}) {
    ScriptedPlatform p;
    p.out.fileType = kFileTypeChar;
    for (int n = 1; n <= c.failedTypeQueries; ++n) p.FailCall(Call::GetFileType, n, 0);
    platform::ScopedSystem system(p);
    StdOut().SetUp();
    StdOut().WriteLine(u"text");
    EXPECT_EQ(StdOut().PendingIoCode(), 105) << c.failedTypeQueries;
    StdOut().Close();
    EXPECT_EQ(p.out.bytes, c.written) << c.failedTypeQueries;
  }
}

TEST_F(Channel, CheckIoResultRaisesThePendingCodeOnceWithItsMessage) {
  struct Case {
    platform::LONG code;
    std::u16string message;
  };
  for (const Case& c : {Case{101, u"Disk full"}, Case{5, u"File access denied"},
                        Case{112, u"I/O error 112"}, Case{109, u"I/O error 109"}}) {
    ScriptedPlatform p;
    p.out.fileType = kFileTypeChar;
    p.FailCall(Call::WriteFile, 1, c.code);
    platform::ScopedSystem system(p);
    StdOut().SetUp();
    StdOut().WriteLine(u"line");
    try {
      CheckIoResult();
      FAIL() << "nothing raised for " << c.code;
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(), c.code);
      EXPECT_EQ(error.Message(), c.message);
      EXPECT_NE(error.FailurePoint(), nullptr);
    }
    EXPECT_NO_THROW(CheckIoResult());  // cleared as it raised
  }
}

TEST_F(Channel, AFailedWriteOutEmptiesTheBufferAndDropsTheRestOfThatAppend) {
  platform.out.fileType = kFileTypePipe;
  platform.FailCall(Call::WriteFile, 1, 112);
  StdOut().WriteLine(std::u16string(300, u'y'));
  EXPECT_EQ(StdOut().PendingIoCode(), 112);
  StdOut().Close();
  // The first 128 bytes failed, the other 172 of the text were dropped; only the line end is left.
  EXPECT_EQ(platform.out.bytes, "\r\n");
}

}  // namespace
}  // namespace zelmora::testing
