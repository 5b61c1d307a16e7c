// What the installation writes where: the keys, the built-in texts and the display defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelmora {

class TRegistry;

// Key paths below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kLocalParamsKey = u"Software\\Quorvane\\Zelmora\\LocalParams";
inline constexpr std::u16string_view kGlobalParamsKey =
    u"Software\\Quorvane\\Zelmora\\GlobalParams";
inline constexpr std::u16string_view kFilesKey = u"Software\\Quorvane\\Zelmora\\Files";

inline constexpr std::int32_t kMultiTierPort = 5524;

// The site's texts, fixed at build time (ZELMORA_FILE_SERVER, ZELMORA_COMPANY), set up by each run
// before it creates anything.
struct BuildTimeTexts {
  std::u16string fileServerName;
  std::u16string netDataPath;  // \\server\ZELMODAT\DATA
  std::u16string companyText;
};
BuildTimeTexts SetUpBuildTimeTexts();

// Texts derived from the TEMP text: plain concatenations, no separator added, removed or tested
// for. Each is built where it is written.
std::u16string LocalWorkingFolder(const std::u16string& tempText);  // TEMP\ZELMODAT
std::u16string LastReportFile(const std::u16string& tempText);      // TEMP\LASTREP.REP

// The last stage's writes to LocalParams, in order. Each value is built as it is written, so a
// failure at any write leaves every earlier one stored.
void WriteLocalParamsSettings(TRegistry& registry, const BuildTimeTexts& texts,
                              const std::u16string& tempText);

}  // namespace zelmora
