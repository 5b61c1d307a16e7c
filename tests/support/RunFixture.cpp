#include "tests/support/RunFixture.h"

#include <algorithm>
#include <functional>

#include "host/Exceptions.h"
#include "installer/InstallationRun.h"
#include "installer/SettingsLayout.h"
#include "installer/StdOutChannel.h"
#include "platform/common/Utf.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::testing {

void PrintTo(const StoredValue& value, std::ostream* os) {
  *os << platform::Utf16ToUtf8(value.key) << " : " << platform::Utf16ToUtf8(value.name) << " type "
      << value.type << " bytes";
  for (std::uint8_t byte : value.data) *os << ' ' << std::hex << int{byte} << std::dec;
}

std::vector<std::uint8_t> Sz(std::u16string_view text) {
  return platform::testing::StringValue(text);
}

platform::RegistryKey& SettingsKey(platform::RegistryTree& tree, std::u16string_view name) {
  return tree.Root()
      .SubkeyCreatingMissing(u"Software", nullptr)
      .SubkeyCreatingMissing(u"Quorvane", nullptr)
      .SubkeyCreatingMissing(u"Zelmora", nullptr)
      .SubkeyCreatingMissing(std::u16string(name), nullptr);
}

std::vector<std::uint8_t> Dword(std::int32_t value) {
  const auto bytes = platform::DwordLeBytes(static_cast<std::uint32_t>(value));
  return {bytes.begin(), bytes.end()};
}

namespace {

void Walk(const platform::RegistryKey& key, const std::u16string& path,
          const std::function<void(const std::u16string&, const platform::RegistryKey&)>& visit) {
  for (const platform::RegistryKey* child : key.Subkeys()) {
    const std::u16string childPath = path.empty() ? child->Name() : path + u"\\" + child->Name();
    visit(childPath, *child);
    Walk(*child, childPath, visit);
  }
}

}  // namespace

std::vector<StoredValue> Contents(const platform::RegistryTree& tree) {
  std::vector<StoredValue> values;
  Walk(tree.Root(), u"", [&](const std::u16string& path, const platform::RegistryKey& key) {
    for (const auto& value : key.Values()) {
      values.push_back({path, value.name, value.type, value.data});
    }
  });
  return values;
}

std::vector<std::u16string> KeyPaths(const platform::RegistryTree& tree) {
  std::vector<std::u16string> paths;
  Walk(tree.Root(), u"",
       [&](const std::u16string& path, const platform::RegistryKey&) { paths.push_back(path); });
  return paths;
}

std::vector<LayoutWrite> ExpectedWrites(const std::u16string& temp, bool designated) {
  const std::u16string local = u"Software\\Quorvane\\Zelmora\\LocalParams";
  const std::u16string global = u"Software\\Quorvane\\Zelmora\\GlobalParams";
  const std::u16string files = u"Software\\Quorvane\\Zelmora\\Files";
  const std::u16string server(kFileServerName);
  const std::u16string net = u"\\\\" + server + u"\\ZELMODAT\\DATA";
  const std::u16string arial = u"Arial";
  std::vector<LayoutWrite> writes;
  auto text = [&](int stage, const std::u16string& key, std::u16string name,
                  std::u16string_view value) {
    writes.push_back({stage, {key, std::move(name), platform::kRegSz, Sz(value)}});
  };
  auto number = [&](int stage, const std::u16string& key, std::u16string name, std::int32_t value) {
    writes.push_back({stage, {key, std::move(name), platform::kRegDword, Dword(value)}});
  };
  text(1, local, u"LocalPath", temp + u"\\ZELMODAT");
  for (const char16_t* name : {u"NetPath", u"DLLPath", u"CommonPath", u"NetLockPath"}) {
    text(2, global, name, net);
  }
  text(2, global, u"LocalPath", temp + u"\\ZELMODAT");
  number(2, global, u"MultiTier", designated ? 0 : 1);
  if (!designated) {
    number(2, global, u"MultiTierPort", 5524);
    text(2, global, u"MultiTierServer", server);
  }
  text(3, local, u"LastCompany", u"\u05E0\u05D1\u05D3\u05E8\u05D5\u05DF");
  text(3, local, u"LastNetPath", net);
  text(3, local, u"NetPath", net);
  text(3, local, u"LocalPath", temp);
  text(3, local, u"DocPath", net + u"\\Docs");
  number(3, local, u"Color", 13949653);
  text(3, local, u"FontName", arial);
  number(3, local, u"FontSize", 9);
  number(3, local, u"FontColor", 0);
  text(3, local, u"HsvPath", u"");
  number(3, local, u"Station", 1);
  const std::pair<char16_t, std::int32_t> groups[] = {
      {u'1', 0}, {u'4', 0}, {u'2', 0}, {u'5', 16711680}, {u'3', 255}};
  for (const auto& [digit, color] : groups) {
    text(3, local, std::u16string(u"FontName") + digit, arial);
    number(3, local, std::u16string(u"FontSize") + digit, 9);
    number(3, local, std::u16string(u"FontColor") + digit, color);
  }
  for (char16_t column = u'1'; column <= u'8'; ++column) {
    number(3, local, std::u16string(u"Col") + column + u"On", 1);
  }
  const std::u16string_view captions[] = {
      u"\u05DE\u05E1\u002E\u0020\u05EA\u05E9\u05DC\u05D5\u05DD",
      u"\u05EA\u05D0\u05E8\u05D9\u05DA",
      u"\u05E7\u05E8\u05DF",
      u"\u05E8\u05D9\u05D1\u05D9\u05EA",
      u"\u05EA\u05E9\u05DC\u05D5\u05DD",
      u"\u05D9\u05EA\u05E8\u05D4",
      u"\u05D0\u05D7\u05D5\u05D6\u0020\u05E8\u05D9\u05D1\u05D9\u05EA",
      u"\u05DE\u05E1\u05E4\u05E8\u0020\u05D9\u05DE\u05D9\u05DD",
  };
  for (int column = 0; column < 8; ++column) {
    text(3, local, u"Col" + std::u16string(1, static_cast<char16_t>(u'1' + column)) + u"Text",
         captions[column]);
  }
  number(3, local, u"Installed3T", 1);
  text(3, files, u"LastReport", temp + u"\\LASTREP.REP");
  return writes;
}

std::vector<StoredValue> Apply(const std::vector<LayoutWrite>& writes) {
  // Keys in the order the hive lists them: Files, GlobalParams, LocalParams.
  std::vector<StoredValue> values;
  for (const LayoutWrite& write : writes) {
    auto same = std::find_if(values.begin(), values.end(), [&](const StoredValue& v) {
      return v.key == write.value.key && v.name == write.value.name;
    });
    if (same != values.end()) {
      *same = write.value;
    } else {
      values.push_back(write.value);
    }
  }
  std::stable_sort(values.begin(), values.end(),
                   [](const StoredValue& a, const StoredValue& b) { return a.key < b.key; });
  return values;
}

const Installation& ToolInstallation() {
  static const Installation installation{&RunInstallation, &StdOut()};
  return installation;
}

RunFixture::RunFixture() { StdOut().SetUp(); }

RunFixture::~RunFixture() = default;

std::int32_t RunFixture::Run() {
  std::int32_t code = 0;
  try {
    RunInstallation();
  } catch (const EInOutError& error) {
    code = error.ErrorCode();
  }
  StdOut().Close();
  return code;
}

}  // namespace zelmora::testing
