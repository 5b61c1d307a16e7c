// Stores the tool cannot read, and things other than a store in its place: the run ends with
// "Installation Error" and status 0, and leaves every byte, link and folder as it found them.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "platform/common/RegFileFormat.h"
#include "platform/common/Utf.h"
#include "tests/hardening/HardeningSupport.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::Utf16LeFile;
using platform::testing::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

std::u16string ReplaceAll(std::u16string text, std::u16string_view from, std::u16string_view to) {
  for (std::size_t at = text.find(from); at != std::u16string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Bytes Random(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

TEST(HardeningHostileStore, AStoreThatDoesNotReadIsRefusedAndKeptByteForByte) {
  // A real store, written for another TEMP so that a run would have to change it.
  const Bytes valid = StoreWrittenFor("/old temp");
  ASSERT_GT(valid.size(), 100u);
  const std::u16string text = platform::Utf16LeText(std::span(valid).subspan(2));
  const auto cut = [&](std::size_t size) { return Bytes(valid.begin(), valid.begin() + size); };
  const auto edited = [&](std::u16string_view from, std::u16string_view to) {
    std::u16string changed = text;
    const std::size_t at = changed.find(from);
    EXPECT_NE(at, std::u16string::npos);
    return Utf16LeFile(changed.replace(at, from.size(), to));
  };
  const std::size_t midLine = 2 + 2 * (text.find(u"\"MultiTierServer\"") + 6);
  Bytes utf8{0xEF, 0xBB, 0xBF};
  for (char byte : platform::Utf16ToUtf8(text)) utf8.push_back(static_cast<std::uint8_t>(byte));
  Bytes bigEndian{0xFE, 0xFF};
  for (char16_t unit : text) {
    bigEndian.insert(bigEndian.end(), {std::uint8_t(unit >> 8), std::uint8_t(unit & 0xFF)});
  }
  std::u16string oneLf = text;
  oneLf.erase(oneLf.find(u"\r\n[HKEY_CURRENT_USER\\Software\\Quorvane]"), 1);
  Bytes afterMark{0xFF, 0xFE};
  const Bytes noise = Random(4096, 11);
  afterMark.insert(afterMark.end(), noise.begin(), noise.end());

  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"cut inside the byte-order mark", cut(1)},
      {"only the byte-order mark", cut(2)},
      {"cut inside the first code unit", cut(3)},
      {"cut inside a code unit half way", cut(valid.size() / 2 | 1)},
      {"cut inside a line", cut(midLine)},
      {"cut between the last CR and LF", cut(valid.size() - 6)},
      {"the last line without its end", cut(valid.size() - 8)},
      {"cut inside the last code unit", cut(valid.size() - 3)},
      {"empty", {}},
      {"random bytes", Random(4096, 7)},
      {"random bytes after the byte-order mark", afterMark},
      {"zero bytes", Bytes(4096, 0)},
      {"UTF-8 with its byte-order mark", utf8},
      {"UTF-16BE with its byte-order mark", bigEndian},
      {"UTF-16LE without a byte-order mark", Bytes(valid.begin() + 2, valid.end())},
      {"LF line ends", Utf16LeFile(ReplaceAll(text, u"\r\n", u"\n"))},
      {"CR line ends", Utf16LeFile(ReplaceAll(text, u"\r\n", u"\r"))},
      {"one LF among CR LF", Utf16LeFile(oneLf)},
      {"a line of several megabytes",
       Utf16LeFile(text + u"\"Endless\"=\"" + std::u16string(3 << 20, u'x') + u"\r\n")},
      {"a key line without its closing bracket", edited(u"[HKEY_CURRENT_USER\\Software\\Quorvane]",
                                                        u"[HKEY_CURRENT_USER\\Software\\Quorvane")},
      {"a value line without '='", edited(u"\"MultiTier\"=dword", u"\"MultiTier\"dword")},
  };
  for (const auto& [what, bytes] : cases) {
    ASSERT_FALSE(platform::ParseRegFile(bytes, u"HKEY_CURRENT_USER").has_value())
        << what << " reads as a store: the case tests nothing";
    const ScratchHome home;
    fs::create_directories(home.Registry());
    WriteFileBytes(home.Store(), bytes);
    ExpectRefusedAndUntouched(home, home.Options(), what);
  }
}

TEST(HardeningHostileStore, SomethingElseInTheStoresOrLocksPlaceIsRefusedAndNotFollowed) {
  const Bytes valid = StoreWrittenFor("/old temp");
  const struct {
    std::string what;
    std::function<void(const ScratchHome&)> make;
  } cases[] = {
      {"a folder in the store's place",
       [&](const ScratchHome& home) {
         fs::create_directories(home.Store());
         WriteFileBytes(home.Store() / "inside.reg", valid);
       }},
      {"a link to a store elsewhere",
       [&](const ScratchHome& home) {
         WriteFileBytes(home.Home() / "elsewhere.reg", valid);
         fs::create_symlink(home.Home() / "elsewhere.reg", home.Store());
       }},
      {"a link to nowhere",
       [&](const ScratchHome& home) {
         fs::create_symlink(home.Home() / "made-through-link.reg", home.Store());
       }},
      {"a named pipe in the store's place",
       [&](const ScratchHome& home) { mkfifo(home.Store().c_str(), 0600); }},
      {"a link in the lock's place",
       [&](const ScratchHome& home) {
         WriteFileBytes(home.Store(), valid);
         WriteFileBytes(home.Home() / "victim", {'v'});
         fs::create_symlink(home.Home() / "victim", home.Lock());
       }},
      {"a folder in the lock's place",
       [&](const ScratchHome& home) {
         WriteFileBytes(home.Store(), valid);
         fs::create_directories(home.Lock());
       }},
      {"a named pipe in the lock's place",
       [&](const ScratchHome& home) {
         WriteFileBytes(home.Store(), valid);
         mkfifo(home.Lock().c_str(), 0600);
       }},
  };
  for (const auto& [what, make] : cases) {
    const ScratchHome home;
    fs::create_directories(home.Registry());
    make(home);
    ExpectRefusedAndUntouched(home, home.Options(), what);
  }
}

// Permission bits do not stop root. Run as root, the run is made from an account they bind:
// the scratch tree is handed to it, with a copy of the tool it can reach.
TEST(HardeningHostileStore,
     PermissionsThatForbidReadingOrReplacingTheStoreFailOnlyARunThatMustChangeIt) {
  std::optional<std::pair<uid_t, gid_t>> account;
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "running as root, and no account \"nobody\" to drop to";
    account.emplace(nobody->pw_uid, nobody->pw_gid);
  }
  const Bytes valid = StoreWrittenFor("/old temp");
  const struct {
    std::string what;
    fs::path (*place)(const ScratchHome&);
    mode_t mode;
  } cases[] = {
      {"an unreadable store", [](const ScratchHome& home) { return home.Store(); }, 0200},
      {"a registry folder without write permission",
       [](const ScratchHome& home) { return home.Registry(); }, 0500},
      {"a registry folder without search permission",
       [](const ScratchHome& home) { return home.Registry(); }, 0600},
  };
  // The tree as the run finds it, before any bits are taken away.
  const auto prepare = [&](const ScratchHome& home, const Bytes& store) {
    fs::create_directories(home.Registry());
    WriteFileBytes(home.Store(), store);
    WriteFileBytes(home.Lock(), {});
    ToolOptions options = home.Options();
    if (account) {
      options.program = (home.Home() / "zelmora-setup").string();
      fs::copy_file(ZELMORA_TOOL, options.program);
      options.account = account;
      for (const auto& entry : fs::recursive_directory_iterator(home.Home())) {
        EXPECT_EQ(lchown(entry.path().c_str(), account->first, account->second), 0);
      }
      EXPECT_EQ(chown(home.Home().c_str(), account->first, account->second), 0);
    }
    return options;
  };
  {
    // With every bit in place the same run succeeds: what fails below is the missing bit.
    const ScratchHome home;
    const ToolResult result = RunTool(prepare(home, valid));
    ASSERT_EQ(result.out, kInstalled) << result.status << result.err;
    ExpectCompleteLayout(home.Store(), kTemp);
  }
  for (const auto& [what, place, mode] : cases) {
    const ScratchHome home;
    const ToolOptions options = prepare(home, valid);
    chmod(place(home).c_str(), mode);
    ExpectRefusedAndUntouched(home, options, what);
    chmod(place(home).c_str(), 0700);  // so that the scratch tree can be removed
  }
  {
    // A store that already holds what the run writes needs no new version: a second run that
    // could not replace it still completes, and leaves it as it was.
    const ScratchHome home;
    const ToolOptions options = prepare(home, StoreWrittenFor(kTemp));
    chmod(home.Registry().c_str(), 0500);
    const auto before = Snapshot(home.Home());
    const ToolResult result = RunTool(options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kInstalled);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Changed(before, Snapshot(home.Home())), std::set<std::string>{});
    chmod(home.Registry().c_str(), 0700);
  }
}

}  // namespace
}  // namespace zelmora::testing
