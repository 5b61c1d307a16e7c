// What the installation writes where: the keys, the built-in texts and the display defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelmora {

class TRegistry;

// The central file and application server.
inline constexpr std::u16string_view kFileServerName = u"QVZELFS01";

// Key paths below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kLocalParamsKey = u"Software\\Quorvane\\Zelmora\\LocalParams";
inline constexpr std::u16string_view kGlobalParamsKey =
    u"Software\\Quorvane\\Zelmora\\GlobalParams";
inline constexpr std::u16string_view kFilesKey = u"Software\\Quorvane\\Zelmora\\Files";

inline constexpr std::int32_t kMultiTierPort = 5524;

// The texts one run derives: plain concatenations, no separator added, removed or tested for.
struct SettingsPaths {
  std::u16string netDataPath;         // \\server\ZELMODAT\DATA
  std::u16string tempText;            // TEMP exactly as read
  std::u16string localWorkingFolder;  // TEMP\ZELMODAT
  std::u16string documentFolder;      // net data path\Docs
  std::u16string lastReportFile;      // TEMP\LASTREP.REP
};
SettingsPaths DeriveSettingsPaths(const std::u16string& tempText);

// One value of the layout: a string, a 32-bit integer or a boolean.
struct Setting {
  std::u16string name;
  std::variant<std::u16string, std::int32_t, bool> value;
};

// The writes to LocalParams of the last stage, in the order they are made.
std::vector<Setting> LocalParamsSettings(const SettingsPaths& paths);

// Writes one setting with the write of its kind.
void WriteSetting(TRegistry& registry, const Setting& setting);

}  // namespace zelmora
