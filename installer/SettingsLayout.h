// What the installation writes where: the keys, and each key's values with their names, kinds
// and data, in the order of the writes. The run decides when a key is opened and what a failure
// does; everything about a value is here.
#pragma once

#include <string>
#include <string_view>

namespace zelmora {

class TRegistry;

// Key paths below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kLocalParamsKey = u"Software\\Quorvane\\Zelmora\\LocalParams";
inline constexpr std::u16string_view kGlobalParamsKey =
    u"Software\\Quorvane\\Zelmora\\GlobalParams";
inline constexpr std::u16string_view kFilesKey = u"Software\\Quorvane\\Zelmora\\Files";

// The site's texts, from the site library that the program links (site/SiteTexts.h), set up by
// each run before it creates anything.
struct BuildTimeTexts {
  std::u16string fileServerName;
  std::u16string netDataPath;  // \\server\ZELMODAT\DATA
  std::u16string companyText;
};
BuildTimeTexts SetUpBuildTimeTexts();

// Each stage's writes into the key the run has open, in order. The TEMP text is the run's, used
// exactly as it came. Each value is built as it is written, so a failure at any write leaves
// every earlier one stored.

// Stage 1, LocalParams: the local working folder alone.
void WriteFirstLocalPath(TRegistry& registry, const std::u16string& tempText);
// Stage 2, GlobalParams: the network paths, the local working folder and then, once the current
// account is known, the three-tier values that it gets.
void WriteGlobalParams(TRegistry& registry, const BuildTimeTexts& texts,
                       const std::u16string& tempText);
// Stage 3, LocalParams: the paths, the display defaults and the installation marker.
void WriteLocalParams(TRegistry& registry, const BuildTimeTexts& texts,
                      const std::u16string& tempText);
// Stage 3, Files: the last report file.
void WriteFiles(TRegistry& registry, const std::u16string& tempText);

}  // namespace zelmora
