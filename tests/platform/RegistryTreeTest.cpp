#include "platform/common/RegistryTree.h"

#include <gtest/gtest.h>

#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

using testing::ListTree;

TEST(NameFold, MapsSmallLettersOfEachScriptToCapitals) {
  const std::pair<char16_t, char16_t> cases[] = {
      {u'a', u'A'},
      {u'z', u'Z'},
      {u'é', u'É'},
      {u'þ', u'Þ'},
      {u'ÿ', u'Ÿ'},
      {u'ā', u'Ā'},
      {u'ł', u'Ł'},
      {u'ň', u'Ň'},
      {u'ž', u'Ž'},
      {u'ı', u'I'},
      {u'α', u'Α'},
      {u'ω', u'Ω'},
      {u'ς', u'Σ'},
      {u'ά', u'Ά'},
      {u'ώ', u'Ώ'},
      {u'ϋ', u'Ϋ'},
      {u'а', u'А'},
      {u'я', u'Я'},
      {u'ё', u'Ё'},
      {u'ѣ', u'Ѣ'},
      {u'ґ', u'Ґ'},
      {u'ӂ', u'Ӂ'},
      {u'ӏ', u'Ӏ'},
      {u'ә', u'Ә'},
      {u'ａ', u'Ａ'},
      // No case, or no single-unit capital: unchanged.
      {u'A', u'A'},
      {u'1', u'1'},
      {u'÷', u'÷'},
      {u'ß', u'ß'},
      {u'İ', u'İ'},
      {u'א', u'א'},
      {u'中', u'中'},
      {u'\\', u'\\'},
      {0xD83D, 0xD83D},
  };
  for (const auto& [unit, folded] : cases) {
    EXPECT_EQ(FoldNameUnit(unit), folded) << std::hex << int(unit);
  }
}

TEST(NameFold, IsStableAndLeavesCapitalsAlone) {
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
    const char16_t folded = FoldNameUnit(static_cast<char16_t>(unit));
    ASSERT_EQ(FoldNameUnit(folded), folded) << std::hex << unit;
  }
  for (char16_t capital : std::u16string(u"AZÀÞĀŽΑΩΆΏАЯЀЏѠӀӐ")) {
    EXPECT_EQ(FoldNameUnit(capital), capital) << std::hex << int(capital);
  }
}

TEST(NameFold, OrdersNamesCaseInsensitively) {
  EXPECT_EQ(CompareNames(u"Software", u"SOFTWARE"), 0);
  EXPECT_EQ(CompareNames(u"Ärger", u"äRGER"), 0);
  EXPECT_EQ(CompareNames(u"Привет", u"ПРИВЕТ"), 0);
  EXPECT_LT(CompareNames(u"apple", u"Banana"), 0);
  EXPECT_LT(CompareNames(u"Files", u"files2"), 0);
  EXPECT_GT(CompareNames(u"_", u"z"), 0);  // compared as capitals: '_' sorts after 'Z'
  EXPECT_FALSE(SameName(u"a", u"ab"));
}

TEST(RegistryTree, KeepsFirstSpellingAndOrders) {
  RegistryTree tree;
  bool created = false;
  RegistryKey& software = tree.Root().SubkeyCreatingMissing(u"Software", &created);
  EXPECT_TRUE(created);
  EXPECT_EQ(&tree.Root().SubkeyCreatingMissing(u"SOFTWARE", &created), &software);
  EXPECT_FALSE(created);
  EXPECT_EQ(software.Name(), u"Software");
  for (const char16_t* name : {u"b", u"_x", u"A", u"c"})
    software.SubkeyCreatingMissing(name, nullptr);
  std::vector<std::u16string> names;
  for (const RegistryKey* key : software.Subkeys()) names.push_back(key->Name());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"c", u"_x"}));

  EXPECT_EQ(tree.FindKey(u"software\\a"), software.FindSubkey(u"A"));
  EXPECT_EQ(tree.FindKey(u""), &tree.Root());
  for (const char16_t* bad : {u"Software\\", u"\\Software", u"Software\\\\A", u"Missing"}) {
    EXPECT_EQ(tree.FindKey(bad), nullptr);
  }
}

TEST(RegistryTree, UndoRestoresEverythingChangedSinceBegin) {
  RegistryTree tree;
  RegistryKey& kept = tree.Root().SubkeyCreatingMissing(u"Kept", nullptr);
  kept.SetValue(u"a", kRegSz, {1, 0});
  kept.SetValue(u"b", kRegBinary, {2});
  RegistryKey& inner =
      kept.SubkeyCreatingMissing(u"Gone", nullptr).SubkeyCreatingMissing(u"Inner", nullptr);
  inner.SetValue(u"i", kRegSz, {6, 0});
  const auto before = ListTree(tree);
  const auto revision = kept.Revision();

  tree.BeginChanges();
  kept.SetValue(u"A", kRegDword, {9, 9, 9, 9});
  kept.SetValue(u"c", kRegSz, {3, 0});
  RegistryKey& added = kept.SubkeyCreatingMissing(u"New", nullptr);
  added.SubkeyCreatingMissing(u"Deeper", nullptr).SetValue(u"x", kRegSz, {4, 0});
  kept.SetValue(u"a", kRegBinary, {5});
  // Keys deleted with their trees come back, with what was changed in them before.
  inner.SetValue(u"i", kRegBinary, {7});
  EXPECT_TRUE(kept.DeleteSubkeyTree(u"GONE"));
  EXPECT_FALSE(kept.DeleteSubkeyTree(u"Gone"));
  EXPECT_TRUE(kept.DeleteSubkeyTree(u"new"));
  EXPECT_TRUE(tree.HasChanges());
  tree.UndoChanges();

  EXPECT_EQ(ListTree(tree), before);
  EXPECT_NE(kept.Revision(), revision);  // cached text of the key must not be reused
  EXPECT_FALSE(tree.HasChanges());

  tree.BeginChanges();
  kept.SetValue(u"c", kRegSz, {3, 0});
  tree.CommitChanges();
  tree.UndoChanges();  // nothing recorded any more
  EXPECT_NE(kept.FindValue(u"c"), nullptr);
}

}  // namespace
}  // namespace zelmora::platform
