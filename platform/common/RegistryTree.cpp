#include "platform/common/RegistryTree.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace zelmora::platform {

// What a tree records while a store has a change in progress (see RegistryTree::BeginChanges).
class ChangeLog {
 public:
  enum class Kind { kValueAdded, kValueReplaced, kKeyAdded, kKeyRemoved };
  struct Change {
    Kind kind;
    RegistryKey* key;
    std::size_t valueIndex = 0;
    RegistryValue previous;  // type and data of a replaced value
    std::u16string subkey;   // name of an added subkey
    // A removed subkey and its tree, kept so that an undo puts back the very same keys, which
    // later changes in the log may refer to.
    std::unique_ptr<RegistryKey> removed;
  };

  bool recording = false;
  std::vector<Change> changes;

  void Record(Change change) {
    if (recording) changes.push_back(std::move(change));
  }
};

namespace {

std::uint64_t NextRevision() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

// Even code points upper case, the following odd one its lower case.
char16_t FoldEvenOddPair(char16_t unit) { return static_cast<char16_t>(unit & ~1u); }
// Odd code points upper case, the following even one its lower case.
char16_t FoldOddEvenPair(char16_t unit) {
  return (unit & 1u) != 0 ? unit : static_cast<char16_t>(unit - 1);
}

char16_t FoldLatin(char16_t unit) {
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 0x20;
  switch (unit) {
    case 0xB5:
      return 0x39C;  // micro sign: Greek capital mu
    case 0xFF:
      return 0x178;  // y with diaeresis
    case 0x131:
      return u'I';  // dotless i
    case 0x17F:
      return u'S';  // long s
  }
  if ((unit >= 0x100 && unit <= 0x137) || (unit >= 0x14A && unit <= 0x177)) {
    return FoldEvenOddPair(unit);
  }
  if ((unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E)) {
    return FoldOddEvenPair(unit);
  }
  return unit;
}

char16_t FoldGreek(char16_t unit) {
  if (unit >= 0x3B1 && unit <= 0x3CB && unit != 0x3C2) return unit - 0x20;
  if (unit >= 0x3AD && unit <= 0x3AF) return unit - 0x25;
  if (unit >= 0x37B && unit <= 0x37D) return unit + 0x82;
  if (unit >= 0x3D8 && unit <= 0x3EF) return FoldEvenOddPair(unit);
  switch (unit) {
    case 0x371:
    case 0x373:
    case 0x377:
      return unit - 1;
    case 0x3AC:
      return 0x386;
    case 0x3C2:
      return 0x3A3;  // final sigma
    case 0x3CC:
      return 0x38C;
    case 0x3CD:
      return 0x38E;
    case 0x3CE:
      return 0x38F;
    case 0x3D0:
      return 0x392;
    case 0x3D1:
      return 0x398;
    case 0x3D5:
      return 0x3A6;
    case 0x3D6:
      return 0x3A0;
    case 0x3D7:
      return 0x3CF;
    case 0x3F0:
      return 0x39A;
    case 0x3F1:
      return 0x3A1;
    case 0x3F2:
      return 0x3F9;
    case 0x3F3:
      return 0x37F;
    case 0x3F5:
      return 0x395;
    case 0x3F8:
      return 0x3F7;
    case 0x3FB:
      return 0x3FA;
  }
  return unit;
}

char16_t FoldCyrillic(char16_t unit) {
  if (unit >= 0x430 && unit <= 0x44F) return unit - 0x20;
  if (unit >= 0x450 && unit <= 0x45F) return unit - 0x50;
  if ((unit >= 0x460 && unit <= 0x481) || (unit >= 0x48A && unit <= 0x4BF) ||
      (unit >= 0x4D0 && unit <= 0x52F)) {
    return FoldEvenOddPair(unit);
  }
  if (unit >= 0x4C1 && unit <= 0x4CE) return FoldOddEvenPair(unit);
  if (unit == 0x4CF) return 0x4C0;
  return unit;
}

}  // namespace

// Simple (one unit to one unit) upper-case mappings, fixed here rather than taken from a locale
// so that every process and every build compares names alike.
char16_t FoldNameUnit(char16_t unit) {
  if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? unit - 0x20 : unit;
  if (unit < 0x180) return FoldLatin(unit);
  if (unit >= 0x370 && unit < 0x400) return FoldGreek(unit);
  if (unit >= 0x400 && unit < 0x530) return FoldCyrillic(unit);
  if (unit >= 0x561 && unit <= 0x586) return unit - 0x30;  // Armenian
  if ((unit >= 0x1E00 && unit <= 0x1E95) || (unit >= 0x1EA0 && unit <= 0x1EFF)) {
    return FoldEvenOddPair(unit);  // Latin Extended Additional
  }
  if (unit == 0x1E9B) return 0x1E60;
  if (unit >= 0x2170 && unit <= 0x217F) return unit - 0x10;  // small Roman numerals
  if (unit >= 0x24D0 && unit <= 0x24E9) return unit - 0x1A;  // circled small letters
  if (unit >= 0xFF41 && unit <= 0xFF5A) return unit - 0x20;  // full-width small letters
  return unit;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t foldedA = FoldNameUnit(a[i]);
    const char16_t foldedB = FoldNameUnit(b[i]);
    if (foldedA != foldedB) return foldedA < foldedB ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

namespace {
bool IsStorableNameUnit(char16_t unit) { return unit != 0 && unit != u'\r' && unit != u'\n'; }
}  // namespace

bool IsValidKeyName(std::u16string_view name) {
  return !name.empty() && name.size() <= kMaxKeyNameLength &&
         std::all_of(name.begin(), name.end(),
                     [](char16_t unit) { return unit != u'\\' && IsStorableNameUnit(unit); });
}

bool IsValidValueName(std::u16string_view name) {
  return name.size() <= kMaxValueNameLength &&
         std::all_of(name.begin(), name.end(), IsStorableNameUnit);
}

std::size_t RegistryKey::NameHash::operator()(std::u16string_view name) const {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a over the folded units
  for (char16_t unit : name) {
    hash = (hash ^ FoldNameUnit(unit)) * 0x100000001b3ull;
  }
  return static_cast<std::size_t>(hash);
}

RegistryKey::RegistryKey(std::u16string name) : name_(std::move(name)), revision_(NextRevision()) {}

std::vector<const RegistryKey*> RegistryKey::Subkeys() const {
  std::vector<const RegistryKey*> result;
  result.reserve(subkeys_.size());
  for (const auto& [name, key] : subkeys_) result.push_back(key.get());
  return result;
}

const RegistryKey* RegistryKey::FindSubkey(std::u16string_view name) const {
  const auto found = subkeys_.find(name);
  return found == subkeys_.end() ? nullptr : found->second.get();
}

RegistryKey* RegistryKey::FindSubkey(std::u16string_view name) {
  const auto found = subkeys_.find(name);
  return found == subkeys_.end() ? nullptr : found->second.get();
}

RegistryKey& RegistryKey::SubkeyCreatingMissing(std::u16string_view name, bool* created) {
  if (RegistryKey* existing = FindSubkey(name)) {
    if (created != nullptr) *created = false;
    return *existing;
  }
  auto key = std::make_unique<RegistryKey>(std::u16string(name));
  key->log_ = log_;
  RegistryKey& added = *key;
  subkeys_.emplace(std::u16string(name), std::move(key));
  if (log_ != nullptr) {
    log_->Record({ChangeLog::Kind::kKeyAdded, this, 0, {}, std::u16string(name), {}});
  }
  if (created != nullptr) *created = true;
  return added;
}

bool RegistryKey::DeleteSubkeyTree(std::u16string_view name) {
  const auto found = subkeys_.find(name);
  if (found == subkeys_.end()) return false;
  std::unique_ptr<RegistryKey> removed = std::move(found->second);
  subkeys_.erase(found);
  if (log_ != nullptr && log_->recording) {
    log_->Record({ChangeLog::Kind::kKeyRemoved, this, 0, {}, {}, std::move(removed)});
  }
  return true;
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view name) const {
  const auto found = valueIndex_.find(name);
  return found == valueIndex_.end() ? nullptr : &values_[found->second];
}

void RegistryKey::SetValue(std::u16string_view name, DWORD type, std::vector<std::uint8_t> data) {
  const auto found = valueIndex_.find(name);
  if (found != valueIndex_.end()) {
    RegistryValue& value = values_[found->second];
    if (value.type == type && value.data == data) return;
    if (log_ != nullptr) {
      log_->Record({ChangeLog::Kind::kValueReplaced,
                    this,
                    found->second,
                    RegistryValue{{}, value.type, value.data},
                    {},
                    {}});
    }
    value.type = type;
    value.data = std::move(data);
  } else {
    valueIndex_.emplace(std::u16string(name), values_.size());
    values_.push_back(RegistryValue{std::u16string(name), type, std::move(data)});
    if (log_ != nullptr) log_->Record({ChangeLog::Kind::kValueAdded, this, 0, {}, {}, {}});
  }
  Touch();
}

void RegistryKey::Touch() { revision_ = NextRevision(); }

void RegistryKey::RemoveLastValue() {
  valueIndex_.erase(values_.back().name);
  values_.pop_back();
  Touch();
}

void RegistryKey::RestoreValue(std::size_t index, RegistryValue previous) {
  values_[index].type = previous.type;
  values_[index].data = std::move(previous.data);
  Touch();
}

void RegistryKey::RemoveSubkey(const std::u16string& name) { subkeys_.erase(name); }

void RegistryKey::RestoreSubkey(std::unique_ptr<RegistryKey> key) {
  std::u16string name = key->Name();
  subkeys_.emplace(std::move(name), std::move(key));
}

RegistryTree::RegistryTree() : log_(std::make_unique<ChangeLog>()), root_(u"") {
  root_.log_ = log_.get();
}

RegistryTree::RegistryTree(RegistryTree&&) noexcept = default;
RegistryTree& RegistryTree::operator=(RegistryTree&&) noexcept = default;
RegistryTree::~RegistryTree() = default;

const RegistryKey* RegistryTree::FindKey(std::u16string_view path) const {
  return const_cast<RegistryTree*>(this)->FindKey(path);
}

RegistryKey* RegistryTree::FindKey(std::u16string_view path) {
  RegistryKey* key = &root_;
  if (path.empty()) return key;
  while (key != nullptr) {
    const std::size_t end = path.find(u'\\');
    const std::u16string_view name = path.substr(0, end);
    if (name.empty()) return nullptr;
    key = key->FindSubkey(name);
    if (end == std::u16string_view::npos) return key;
    path.remove_prefix(end + 1);
  }
  return nullptr;
}

void RegistryTree::BeginChanges() {
  log_->changes.clear();
  log_->recording = true;
}

bool RegistryTree::HasChanges() const { return !log_->changes.empty(); }

void RegistryTree::CommitChanges() {
  log_->changes.clear();
  log_->recording = false;
}

void RegistryTree::UndoChanges() {
  log_->recording = false;
  for (auto change = log_->changes.rbegin(); change != log_->changes.rend(); ++change) {
    switch (change->kind) {
      case ChangeLog::Kind::kValueAdded:
        change->key->RemoveLastValue();
        break;
      case ChangeLog::Kind::kValueReplaced:
        change->key->RestoreValue(change->valueIndex, std::move(change->previous));
        break;
      case ChangeLog::Kind::kKeyAdded:
        change->key->RemoveSubkey(change->subkey);
        break;
      case ChangeLog::Kind::kKeyRemoved:
        change->key->RestoreSubkey(std::move(change->removed));
        break;
    }
  }
  log_->changes.clear();
}

}  // namespace zelmora::platform
