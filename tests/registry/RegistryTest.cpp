#include <gtest/gtest.h>

#include "registry/Exceptions.h"
#include "registry/Registry.h"
#include "tests/support/RunFixture.h"

namespace zelmora::testing {
namespace {

class Registry : public RunFixture {
 protected:
  const platform::RegistryValue* Stored(std::u16string_view key, std::u16string_view name) {
    const auto* found = platform.Registry().FindKey(key);
    return found ? found->FindValue(name) : nullptr;
  }
};

TEST_F(Registry, CreateStartsAtTheCurrentUserRootWithNoKeyOpenAndNoPlatformCall) {
  const std::size_t callsBefore = platform.Log().size();
  TRegistry registry;
  EXPECT_EQ(registry.RootKey(), platform::kHkeyCurrentUser);
  EXPECT_EQ(registry.CurrentKey(), platform::kNoKey);
  EXPECT_EQ(registry.CurrentPath(), u"");
  EXPECT_EQ(registry.Access(), 0xF003Fu);
  EXPECT_TRUE(registry.LazyWrite());
  EXPECT_EQ(platform.Log().size(), callsBefore);
}

TEST_F(Registry, OpenKeyCreatesEveryMissingLevelAndKeepsExistingContents) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"A\\B\\C\\D", true));
  EXPECT_EQ(registry.CurrentPath(), u"A\\B\\C\\D");
  registry.WriteString(u"v", u"1");
  platform.Registry().FindKey(u"A\\B")->SubkeyCreatingMissing(u"Sibling", nullptr);
  registry.CloseKey();
  ASSERT_TRUE(registry.OpenKey(u"A\\B", true));
  EXPECT_NE(platform.Registry().FindKey(u"A\\B\\Sibling"), nullptr);
  EXPECT_NE(Stored(u"A\\B\\C\\D", u"v"), nullptr);
}

TEST_F(Registry, PathsAreRelativeToTheOpenKeyUnlessTheyStartWithABackslash) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"Outer", true));
  const HKEY outer = registry.CurrentKey();
  ASSERT_TRUE(registry.OpenKey(u"Inner", true));
  EXPECT_EQ(registry.CurrentPath(), u"Outer\\Inner");
  EXPECT_NE(platform.Registry().FindKey(u"Outer\\Inner"), nullptr);
  EXPECT_NE(registry.CurrentKey(), outer);

  ASSERT_TRUE(registry.OpenKey(u"\\Top\\Level", true));
  EXPECT_EQ(registry.CurrentPath(), u"Top\\Level");
  EXPECT_NE(platform.Registry().FindKey(u"Top\\Level"), nullptr);
  EXPECT_EQ(platform.Registry().FindKey(u"Outer\\Inner\\Top"), nullptr);
  registry.CloseKey();
  EXPECT_EQ(platform.OpenKeyHandles(), 0u);  // every replaced handle was closed
}

TEST_F(Registry, EmptyPathOrLoneBackslashOpensTheBaseItselfAndCreatesNothing) {
  for (const std::u16string path : {u"", u"\\"}) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(path, true));
    EXPECT_EQ(platform.Log().back().call, Call::RegOpenKeyExW);
    EXPECT_EQ(registry.CurrentPath(), u"");
    EXPECT_TRUE(KeyPaths(platform.Registry()).empty());
  }
}

TEST_F(Registry, FailedOpenKeyChangesNothingAndLaterWritesGoToTheOpenKey) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"Kept", true));
  platform.FailCall(Call::RegCreateKeyExW, 2, platform::kErrorAccessDenied);
  EXPECT_FALSE(registry.OpenKey(u"Other", true));
  EXPECT_FALSE(registry.OpenKey(u"Missing", false));
  EXPECT_EQ(registry.CurrentPath(), u"Kept");
  registry.WriteInteger(u"n", 7);
  EXPECT_EQ(Stored(u"Kept", u"n")->data, Dword(7));
}

TEST_F(Registry, WritesStoreTheDocumentedTypesAndBytes) {
  struct Case {
    void (*write)(TRegistry&);
    platform::DWORD type;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {[](TRegistry& r) { r.WriteString(u"v", u""); }, platform::kRegSz, {0, 0}},
      {[](TRegistry& r) { r.WriteString(u"v", u"Arial"); },
       platform::kRegSz,
       {'A', 0, 'r', 0, 'i', 0, 'a', 0, 'l', 0, 0, 0}},
      {[](TRegistry& r) { r.WriteString(u"v", u"\u05E7"); }, platform::kRegSz, {0xE7, 0x05, 0, 0}},
      {[](TRegistry& r) { r.WriteBool(u"v", true); }, platform::kRegDword, {1, 0, 0, 0}},
      {[](TRegistry& r) { r.WriteBool(u"v", false); }, platform::kRegDword, {0, 0, 0, 0}},
      {[](TRegistry& r) { r.WriteInteger(u"v", -1); },
       platform::kRegDword,
       {0xFF, 0xFF, 0xFF, 0xFF}},
      {[](TRegistry& r) { r.WriteInteger(u"v", 0xD4DAD5); },
       platform::kRegDword,
       {0xD5, 0xDA, 0xD4, 0x00}},
  };
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"K", true));
  for (const Case& c : cases) {
    c.write(registry);  // each replaces the last, whatever its type
    const auto* value = Stored(u"K", u"v");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.bytes);
  }
  EXPECT_EQ(platform.Registry().FindKey(u"K")->Values().size(), 1u);
}

TEST_F(Registry, AWriteThatCannotBeStoredRaisesNamingTheValue) {
  TRegistry registry;
  try {
    registry.WriteBool(u"Col1On", true);  // no key open
    FAIL() << "no failure raised";
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), u"Failed to set data for 'Col1On'");
  }
  ASSERT_TRUE(registry.OpenKey(u"K", true));
  platform.FailCall(Call::RegSetValueExW, 2, platform::kErrorDiskFull);
  EXPECT_THROW(registry.WriteString(u"a'b", u"x"), ERegistryException);
  EXPECT_EQ(Stored(u"K", u"a'b"), nullptr);
  EXPECT_NE(registry.CurrentKey(), platform::kNoKey);  // the key stays open
}

TEST_F(Registry, RootChangesCloseTheOpenKeyAndTheSameRootDoesNot) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"K", true));
  registry.SetRootKey(platform::kHkeyCurrentUser);
  EXPECT_EQ(registry.CurrentPath(), u"K");
  registry.SetRootKey(platform::kHkeyLocalMachine);
  EXPECT_EQ(registry.CurrentKey(), platform::kNoKey);
  EXPECT_EQ(registry.CurrentPath(), u"");
  EXPECT_EQ(platform.OpenKeyHandles(), 0u);
}

TEST_F(Registry, CloseKeyTwiceIsHarmlessAndDestructionClosesTheKey) {
  {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(u"K", true));
    EXPECT_EQ(platform.OpenKeyHandles(), 1u);
  }
  EXPECT_EQ(platform.OpenKeyHandles(), 0u);
  TRegistry registry;
  registry.CloseKey();
  registry.CloseKey();
  EXPECT_TRUE(platform.Log().back().call == Call::RegCloseKey);  // only the first object's
}

}  // namespace
}  // namespace zelmora::testing
