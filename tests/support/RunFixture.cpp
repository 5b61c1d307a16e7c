#include "tests/support/RunFixture.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "installer/InstallationRun.h"
#include "platform/common/Utf.h"
#include "registry/Exceptions.h"
#include "registry/StdOutChannel.h"
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

namespace {

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One row of the layout table, as the file spells it.
struct LayoutRow {
  int stage;
  std::string account;
  std::u16string key;
  std::u16string name;
  std::string kind;
  std::u16string value;
};

std::vector<LayoutRow> ReadLayoutTable() {
  std::ifstream in(ZELMORA_SETTINGS_LAYOUT);
  if (!in) throw std::runtime_error("cannot read " ZELMORA_SETTINGS_LAYOUT);
  std::vector<LayoutRow> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string_view> columns;
    std::string_view rest = line;
    for (std::size_t bar; columns.size() < 5 && (bar = rest.find('|')) != rest.npos;) {
      columns.push_back(Trimmed(rest.substr(0, bar)));
      rest.remove_prefix(bar + 1);
    }
    // The value is taken as it is: a company text may hold "|" and spaces at its ends.
    if (rest.starts_with(' ')) rest.remove_prefix(1);
    columns.push_back(rest);
    if (columns.size() != 6) throw std::runtime_error("layout table: bad line: " + line);
    rows.push_back({std::stoi(std::string(columns[0])), std::string(columns[1]),
                    platform::Utf8ToUtf16(columns[2]), platform::Utf8ToUtf16(columns[3]),
                    std::string(columns[4]), platform::Utf8ToUtf16(columns[5])});
  }
  return rows;
}

}  // namespace

std::vector<LayoutWrite> ExpectedWrites(const std::u16string& temp, bool designated) {
  static const std::vector<LayoutRow> table = ReadLayoutTable();
  std::vector<LayoutWrite> writes;
  for (const LayoutRow& row : table) {
    if (row.account != "all" && (row.account == "designated") != designated) continue;
    StoredValue value{row.key, row.name, platform::kRegDword, {}};
    if (row.kind == "string" || row.kind == "temp") {
      value.type = platform::kRegSz;
      value.data = Sz(row.kind == "temp" ? temp + row.value : row.value);
    } else if (row.kind == "integer") {
      value.data = Dword(std::stoi(platform::Utf16ToUtf8(row.value)));
    } else if (row.kind == "boolean") {
      value.data = Dword(row.value == u"true" ? 1 : 0);
    } else {
      throw std::runtime_error("layout table: unknown kind " + row.kind);
    }
    writes.push_back({row.stage, std::move(value)});
  }
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

platform::UINT RunToolInstallation() {
  RunInstallation();
  return 0;
}

const Installation& ToolInstallation() {
  static const Installation installation{&RunToolInstallation, &StdOut(), {1, 217}};
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
