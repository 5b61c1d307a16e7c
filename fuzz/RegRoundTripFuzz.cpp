// Trees built from the fuzz input through the tree's own calls come back from a write and a read
// exactly: the same keys with the same spellings, the same values in the same order, with the
// same types and bytes.
//
// What a name can hold, as the tree rules it (IsValidKeyName, IsValidValueName), and so what the
// file has to carry:
// - a key name: 1 to 255 UTF-16 units, any but the backslash (it separates the parts of a path),
//   NUL (names travel NUL-terminated), CR and LF (the format has no escape for a line end).
//   Brackets, quotes, '=', '@', ';', tabs, non-BMP characters and unpaired surrogates are allowed;
// - a value name: 0 (the default value) to 16383 units, with the same exceptions but the
//   backslash;
// - keys lie at most 512 levels below the root.
// Generated names keep to that, and each one first checks that the tree rules it the same way.
// Value data has no rule: any type, any number of bytes, any code units.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/common/Utf.h"

using namespace zelmora::platform;
using namespace zelmora::platform::fuzzing;

namespace {

// Units the format treats specially or that names compare specially, drawn often; raw units
// cover the rest.
constexpr char16_t kTrickyUnits[] = {
    u'[',   u']',   u'\\',  u'"',   u'=',   u'@',   u';',   u'-',   u' ',   u'\t',  u',',
    u':',   u'\r',  u'\n',  u'\0',  u'a',   u'A',   u'0',   0x00FF, 0x0178, 0x03C2, 0x03A3,
    0x0131, 0x017F, 0xD83D, 0xDE00, 0xD800, 0xDFFF, 0xFEFF, 0xFFFE, 0xFFFF,
};

constexpr DWORD kTypes[] = {kRegSz,    kRegExpandSz, kRegMultiSz, kRegBinary,
                            kRegDword, kRegQword,    kRegNone};

// Names stretched to about their limit, and runs of keys down to the depth limit (every key line
// holds its whole path, so one such run makes a file of half a megabyte): few per input, so that
// an input stays cheap to run.
constexpr int kMaxLongNames = 2;
constexpr int kMaxDeepChains = 1;
// Keys one input may create, which bounds the file (every key line holds its whole path).
constexpr std::size_t kMaxKeys = 700;
// Whole-file comparisons one input may ask for beyond the final round trip.
constexpr int kMaxSnapshots = 4;

bool IsUnitOfAnyName(char16_t unit) { return unit != 0 && unit != u'\r' && unit != u'\n'; }
bool IsUnitOfKeyName(char16_t unit) { return unit != u'\\' && IsUnitOfAnyName(unit); }

// Reads operations on the tree from the input until it runs out. An exhausted input yields the
// smallest choice everywhere, so the costly choices (long names, deep chains) are the largest.
class TreeBuilder {
 public:
  explicit TreeBuilder(FuzzedDataProvider& in) : in_(in) { keys_.push_back({&tree_.Root(), 0}); }

  void Run() {
    while (in_.remaining_bytes() > 0) {
      switch (in_.ConsumeIntegralInRange<int>(0, 6)) {
        case 0:
          AddSubkey();
          break;
        case 1:
          AddChain();
          break;
        case 2:
        case 3:
          SetValue();
          break;
        case 4:
          CheckBlockWriter();
          break;
        case 5:
          BeginChanges();
          break;
        case 6:
          EndChanges();
          break;
      }
    }
    EndChanges();
    snapshots_ = 0;
    CheckBlockWriter();
    RequireRoundTrip(tree_);
  }

 private:
  struct Known {
    RegistryKey* key;
    std::size_t depth;
  };

  char16_t Unit() {
    const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
    if (pick < 128) return kTrickyUnits[pick % std::size(kTrickyUnits)];
    return in_.ConsumeIntegral<char16_t>();
  }

  std::u16string Units(std::size_t most) {
    std::u16string units(in_.ConsumeIntegralInRange<std::size_t>(0, most), u'\0');
    for (char16_t& unit : units) unit = Unit();
    return units;
  }

  // A name from the input, now and then stretched to just below, at or just above the limit.
  std::u16string RawName(std::size_t limit) {
    std::u16string name = Units(16);
    if (longNames_ < kMaxLongNames && in_.ConsumeIntegralInRange<int>(0, 31) == 31) {
      ++longNames_;
      name.resize(limit - 1 + in_.ConsumeIntegralInRange<std::size_t>(0, 2), Unit());
    }
    return name;
  }

  // The name made storable: forbidden units replaced, cut to the limit, never empty for a key.
  template <typename Allowed>
  static std::u16string Storable(std::u16string name, std::size_t limit, Allowed allowed) {
    std::replace_if(
        name.begin(), name.end(), [&](char16_t unit) { return !allowed(unit); }, u'_');
    if (name.size() > limit) name.resize(limit);
    return name;
  }

  std::u16string KeyName() {
    const std::u16string raw = RawName(kMaxKeyNameLength);
    const bool storable = !raw.empty() && raw.size() <= kMaxKeyNameLength &&
                          std::all_of(raw.begin(), raw.end(), IsUnitOfKeyName);
    Require(IsValidKeyName(raw) == storable, "the tree rules key names otherwise");
    std::u16string name = Storable(raw, kMaxKeyNameLength, IsUnitOfKeyName);
    return name.empty() ? u"_" : name;
  }

  std::u16string ValueName() {
    const std::u16string raw = RawName(kMaxValueNameLength);
    const bool storable =
        raw.size() <= kMaxValueNameLength && std::all_of(raw.begin(), raw.end(), IsUnitOfAnyName);
    Require(IsValidValueName(raw) == storable, "the tree rules value names otherwise");
    return Storable(raw, kMaxValueNameLength, IsUnitOfAnyName);
  }

  Known& PickKey() { return keys_[in_.ConsumeIntegralInRange<std::size_t>(0, keys_.size() - 1)]; }

  // Creates (or finds, in any case spelling) the subkey; false when the tree is full.
  bool Descend(Known& at, const std::u16string& name) {
    if (at.depth >= kMaxKeyDepth || keys_.size() >= kMaxKeys) return false;
    bool created = false;
    RegistryKey& key = at.key->SubkeyCreatingMissing(name, &created);
    at = {&key, at.depth + 1};
    if (created) keys_.push_back(at);
    return true;
  }

  void AddSubkey() {
    Known at = PickKey();
    Descend(at, KeyName());
  }

  // A run of levels with one short name repeated, now and then long enough to reach the depth
  // limit.
  void AddChain() {
    Known at = PickKey();
    const bool deep = deepChains_ < kMaxDeepChains && in_.ConsumeIntegralInRange<int>(0, 63) == 63;
    deepChains_ += deep;
    const std::size_t levels = in_.ConsumeIntegralInRange<std::size_t>(1, deep ? kMaxKeyDepth : 8);
    std::u16string name = Storable(Units(2), kMaxKeyNameLength, IsUnitOfKeyName);
    if (name.empty()) name = u"k";
    for (std::size_t i = 0; i < levels && Descend(at, name); ++i) {
    }
  }

  std::vector<std::uint8_t> Data() {
    switch (in_.ConsumeIntegralInRange<int>(0, 2)) {
      case 0:  // text with its terminating NUL, any units inside
        return Utf16LeWithNul(Units(40));
      case 1:
        return in_.ConsumeBytes<std::uint8_t>(4);
      default:  // any length, odd and empty included; long enough to wrap hex lines
        return in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, 200));
    }
  }

  // A new value, or a replacement for one the key has (named in the same or the other ASCII
  // case), which the undo must also put back.
  void SetValue() {
    RegistryKey& key = *PickKey().key;
    std::u16string name;
    if (!key.Values().empty() && in_.ConsumeBool()) {
      const auto& values = key.Values();
      name = values[in_.ConsumeIntegralInRange<std::size_t>(0, values.size() - 1)].name;
      if (in_.ConsumeBool()) {
        for (char16_t& unit : name) {
          if ((unit | 0x20) >= u'a' && (unit | 0x20) <= u'z') unit ^= 0x20;
        }
      }
    } else {
      name = ValueName();
    }
    const DWORD type =
        in_.ConsumeBool() ? in_.PickValueInArray(kTypes) : in_.ConsumeIntegral<DWORD>();
    key.SetValue(name, type, Data());
  }

  // The writer that keeps blocks between writes must still give the whole file.
  void CheckBlockWriter() {
    if (snapshots_ == kMaxSnapshots) return;
    ++snapshots_;
    Require(Joined(writer_.Format(tree_)) == FormatRegFile(tree_, kRoot),
            "the block writer differs from the whole file");
  }

  void BeginChanges() {
    EndChanges();
    if (snapshots_ == kMaxSnapshots) return;
    ++snapshots_;
    tree_.BeginChanges();
    before_ = FormatRegFile(tree_, kRoot);
    recording_ = true;
  }

  // Keeps or undoes what was changed since BeginChanges; undone, the tree is written as before.
  void EndChanges() {
    if (!recording_) return;
    recording_ = false;
    if (in_.ConsumeBool()) {
      tree_.CommitChanges();
      return;
    }
    tree_.UndoChanges();
    Require(FormatRegFile(tree_, kRoot) == before_, "undoing the changes left the tree changed");
    keys_.clear();
    Collect(tree_.Root(), 0);  // undone keys are gone
  }

  void Collect(RegistryKey& key, std::size_t depth) {
    keys_.push_back({&key, depth});
    for (const RegistryKey* subkey : key.Subkeys()) {
      Collect(*key.FindSubkey(subkey->Name()), depth + 1);
    }
  }

  FuzzedDataProvider& in_;
  RegistryTree tree_;
  std::vector<Known> keys_;
  RegFileWriter writer_{std::u16string(kRoot)};
  std::vector<std::uint8_t> before_;
  bool recording_ = false;
  int longNames_ = 0;
  int deepChains_ = 0;
  int snapshots_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  TreeBuilder(in).Run();
  return 0;
}
