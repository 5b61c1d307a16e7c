#include "platform/common/RegistryCalls.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

using testing::ListTree;

const std::vector<std::uint8_t> kOne{1, 0, 0, 0};

class RegistryCallsTest : public ::testing::Test {
 protected:
  HKEY Create(const char16_t* path, HKEY base = kHkeyCurrentUser) {
    HKEY key = kNoKey;
    EXPECT_EQ(calls.CreateKey(base, path, &key, nullptr), kErrorSuccess) << "creating";
    return key;
  }
  LONG Set(HKEY key, const char16_t* name, DWORD type, const std::vector<std::uint8_t>& data) {
    return calls.SetValue(key, name, type, data.data(), static_cast<DWORD>(data.size()));
  }
  RegistryTree& Tree() { return store.Tree(); }

  MemoryKeyStore store;
  RegistryCalls calls{store, kHkeyCurrentUser};
};

TEST_F(RegistryCallsTest, CreatesEveryMissingLevelInOneCall) {
  HKEY key = kNoKey;
  DWORD disposition = 0;
  ASSERT_EQ(calls.CreateKey(kHkeyCurrentUser, u"Software\\Quorvane\\Zelmora\\LocalParams", &key,
                            &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  EXPECT_NE(Tree().FindKey(u"Software\\Quorvane\\Zelmora\\LocalParams"), nullptr);
  EXPECT_EQ(ListTree(Tree()).size(), 5u);  // the root and four keys
  EXPECT_EQ(Set(key, u"Station", kRegDword, kOne), kErrorSuccess);
  EXPECT_EQ(
      Tree().FindKey(u"software\\quorvane\\zelmora\\localparams")->FindValue(u"Station")->data,
      kOne);
}

TEST_F(RegistryCallsTest, OpensExistingKeysUntouched) {
  const HKEY parent = Create(u"Software\\Quorvane");
  Set(parent, u"v", kRegDword, kOne);
  Create(u"Software\\Quorvane\\Child");
  const auto before = ListTree(Tree());

  HKEY again = kNoKey, opened = kNoKey;
  DWORD disposition = 0;
  ASSERT_EQ(calls.CreateKey(kHkeyCurrentUser, u"SOFTWARE\\quorvane", &again, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  ASSERT_EQ(calls.OpenKey(kHkeyCurrentUser, u"software\\QUORVANE\\child", &opened), kErrorSuccess);
  EXPECT_EQ(ListTree(Tree()), before);  // first spellings kept, nothing added or lost
  EXPECT_NE(again, parent);
  EXPECT_NE(opened, again);

  HKEY missing = kNoKey;
  EXPECT_EQ(calls.OpenKey(kHkeyCurrentUser, u"Software\\Nothing\\Here", &missing),
            kErrorFileNotFound);
  EXPECT_EQ(calls.OpenKey(again, u"child\\deeper", &missing), kErrorFileNotFound);
  EXPECT_EQ(ListTree(Tree()), before);
  EXPECT_EQ(calls.OpenHandleCount(), 4u);
}

TEST_F(RegistryCallsTest, EmptyPathGivesANewHandleToTheBaseKey) {
  const HKEY base = Create(u"Base");
  for (const bool create : {false, true}) {
    HKEY same = kNoKey;
    DWORD disposition = 0;
    const LONG result = create ? calls.CreateKey(base, u"", &same, &disposition)
                               : calls.OpenKey(base, nullptr, &same);
    ASSERT_EQ(result, kErrorSuccess);
    EXPECT_NE(same, base);
    EXPECT_EQ(Set(same, create ? u"viaCreate" : u"viaOpen", kRegDword, kOne), kErrorSuccess);
  }
  EXPECT_EQ(Tree().FindKey(u"Base")->Values().size(), 2u);
  EXPECT_EQ(Tree().Root().SubkeyCount(), 1u);

  HKEY root = kNoKey;
  ASSERT_EQ(calls.OpenKey(kHkeyCurrentUser, u"", &root), kErrorSuccess);
  EXPECT_NE(root, kHkeyCurrentUser);
  EXPECT_EQ(Set(root, u"onRoot", kRegDword, kOne), kErrorSuccess);
  EXPECT_NE(Tree().Root().FindValue(u"onRoot"), nullptr);
}

TEST_F(RegistryCallsTest, RefusesHandlesThatAreNotOpen) {
  const HKEY closed = Create(u"Closed");
  ASSERT_EQ(calls.CloseKey(closed), kErrorSuccess);
  const HKEY reopened = Create(u"Closed");
  EXPECT_NE(reopened, closed);  // numbers are never reused
  const HKEY never = static_cast<HKEY>(0x12345678);
  for (const HKEY bad : {kNoKey, closed, never, kHkeyLocalMachine, kHkeyClassesRoot, kHkeyUsers}) {
    HKEY result = kNoKey;
    EXPECT_EQ(calls.CreateKey(bad, u"x", &result, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(calls.OpenKey(bad, u"", &result), kErrorInvalidHandle);
    EXPECT_EQ(Set(bad, u"v", kRegDword, kOne), kErrorInvalidHandle);
    EXPECT_EQ(calls.CloseKey(bad), kErrorInvalidHandle);
  }
  EXPECT_EQ(ListTree(Tree()).size(), 2u);  // the root and "Closed", no value anywhere

  EXPECT_EQ(calls.CloseKey(kHkeyCurrentUser), kErrorSuccess);
  EXPECT_EQ(calls.CloseKey(kHkeyCurrentUser), kErrorSuccess);  // never really closed
  EXPECT_EQ(Set(kHkeyCurrentUser, u"v", kRegDword, kOne), kErrorSuccess);
  EXPECT_EQ(calls.CloseKey(reopened), kErrorSuccess);
  EXPECT_EQ(calls.OpenHandleCount(), 0u);
}

TEST_F(RegistryCallsTest, ReplacesValuesWhateverTheirTypeInPlace) {
  const HKEY key = Create(u"K");
  Set(key, u"First", kRegSz, {0x41, 0, 0, 0});
  Set(key, u"Second", kRegSz, {0x42, 0, 0, 0});
  ASSERT_EQ(Set(key, u"FIRST", kRegDword, kOne), kErrorSuccess);
  ASSERT_EQ(calls.SetValue(key, nullptr, kRegBinary, nullptr, 0), kErrorSuccess);
  const auto& values = Tree().FindKey(u"K")->Values();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, u"First");
  EXPECT_EQ(values[0].type, kRegDword);
  EXPECT_EQ(values[0].data, kOne);
  EXPECT_EQ(values[1].name, u"Second");
  EXPECT_EQ(values[2].name, u"");
  EXPECT_TRUE(values[2].data.empty());
}

TEST_F(RegistryCallsTest, EnforcesNameLimitsAndRefusesUnstorableNames) {
  const HKEY key = Create(u"K");
  const auto before = ListTree(Tree());
  const std::u16string longest(255, u'k'), tooLong(256, u'k');
  const struct {
    std::u16string path;
    LONG expected;
  } paths[] = {
      {u"a\\\\b", kErrorBadPathname},
      {u"\\a", kErrorBadPathname},
      {u"a\\", kErrorBadPathname},
      {u"\\", kErrorBadPathname},
      {u"ok\\" + tooLong, kErrorInvalidParameter},
      {u"line\nfeed", kErrorInvalidParameter},
      {u"carriage\rreturn", kErrorInvalidParameter},
  };
  for (const auto& [path, expected] : paths) {
    HKEY result = kNoKey;
    EXPECT_EQ(calls.CreateKey(key, path.c_str(), &result, nullptr), expected);
    EXPECT_EQ(calls.OpenKey(key, path.c_str(), &result), expected);
  }
  for (const std::u16string& name : {std::u16string(16384, u'v'), std::u16string(u"a\r\nb")}) {
    EXPECT_EQ(Set(key, name.c_str(), kRegDword, kOne), kErrorInvalidParameter);
  }
  EXPECT_EQ(ListTree(Tree()), before);
  EXPECT_EQ(calls.OpenHandleCount(), 1u);

  Create(longest.c_str(), key);
  EXPECT_EQ(Set(key, std::u16string(16383, u'v').c_str(), kRegDword, kOne), kErrorSuccess);
  std::u16string deep = u"d";
  for (int level = 1; level < 511; ++level) deep += u"\\d";
  HKEY result = kNoKey;
  EXPECT_EQ(calls.CreateKey(key, deep.c_str(), &result, nullptr), kErrorSuccess);  // 512 levels
  EXPECT_EQ(calls.CreateKey(result, u"one-too-many", &result, nullptr), kErrorInvalidParameter);
}

TEST_F(RegistryCallsTest, AKeyThatVanishedFromTheStoreIsReportedDeleted) {
  const HKEY key = Create(u"Software\\Gone");
  Tree() = RegistryTree();
  HKEY result = kNoKey;
  EXPECT_EQ(Set(key, u"v", kRegDword, kOne), kErrorKeyDeleted);
  EXPECT_EQ(calls.CreateKey(key, u"child", &result, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(calls.OpenKey(key, u"", &result), kErrorKeyDeleted);
  EXPECT_EQ(ListTree(Tree()).size(), 1u);
  EXPECT_EQ(calls.CloseKey(key), kErrorSuccess);
}

// A store whose writes fail, as a full disk would make them.
class FailingStore final : public KeyStore {
 public:
  LONG Update(const std::function<LONG(RegistryTree&)>& change) override {
    return memory.Update([&](RegistryTree& tree) {
      const LONG result = change(tree);
      return result == kErrorSuccess ? kErrorDiskFull : result;
    });
  }
  LONG Read(const std::function<LONG(const RegistryTree&)>& look) override {
    return memory.Read(look);
  }
  MemoryKeyStore memory;
};

TEST(RegistryCallsOnFailingStore, AFailedChangeLeavesNothingBehind) {
  FailingStore store;
  RegistryCalls calls{store, kHkeyCurrentUser};
  HKEY key = kNoKey;
  EXPECT_EQ(calls.CreateKey(kHkeyCurrentUser, u"a\\b", &key, nullptr), kErrorDiskFull);
  EXPECT_EQ(calls.SetValue(kHkeyCurrentUser, u"v", kRegDword, kOne.data(), 4), kErrorDiskFull);
  EXPECT_EQ(ListTree(store.memory.Tree()).size(), 1u);
  EXPECT_EQ(calls.OpenHandleCount(), 0u);
}

TEST_F(RegistryCallsTest, GetValueReadsAStringEndedByAZeroUnitAndChangesNothing) {
  const HKEY key = Create(u"Software\\Locales");
  Set(key, u"C:\\Apps\\Tool.exe", kRegSz, {'h', 0, 'e', 0, 0, 0});
  Set(key, u"unended", kRegSz, {'h', 0, 'e'});
  Set(key, u"number", kRegDword, kOne);
  const auto before = ListTree(Tree());
  // name, capacity: result, size, the bytes read
  const std::tuple<const char16_t*, DWORD, LONG, DWORD, std::vector<std::uint8_t>> cases[] = {
      {u"c:\\apps\\TOOL.EXE", 16, kErrorSuccess, 6, {'h', 0, 'e', 0, 0, 0}},
      {u"unended", 16, kErrorSuccess, 6, {'h', 0, 'e', 0, 0, 0}},
      {u"unended", 5, kErrorMoreData, 6, {}},
      {u"number", 16, kErrorUnsupportedType, 16, {}},
      {u"missing", 16, kErrorFileNotFound, 16, {}},
  };
  for (const auto& [name, capacity, result, size, bytes] : cases) {
    std::vector<std::uint8_t> data(capacity);
    DWORD stored = capacity;
    EXPECT_EQ(calls.GetValue(kHkeyCurrentUser, u"software\\LOCALES", name, kRrfRtRegSz, nullptr,
                             data.data(), &stored),
              result);
    EXPECT_EQ(stored, size);
    data.resize(bytes.empty() ? 0 : stored);
    EXPECT_EQ(data, bytes);
  }
  EXPECT_EQ(ListTree(Tree()), before);
}

}  // namespace
}  // namespace zelmora::platform
