#include "installer/SettingsLayout.h"

#include <cstdint>

#include "installer/WorkstationFacts.h"
#include "registry/Registry.h"
#include "site/SiteTexts.h"

namespace zelmora {
namespace {

// Display defaults: the background colour, and the font colours of groups 5 and 3.
constexpr std::int32_t kBackgroundColor = 0xD4DAD5;
constexpr std::int32_t kBlue = 0xFF0000;
constexpr std::int32_t kRed = 0x0000FF;
constexpr std::int32_t kFontSize = 9;

// The three-tier server's port, for every account but the designated one.
constexpr std::int32_t kMultiTierPort = 5524;

// The payment schedule's column captions, in Hebrew, logical order.
constexpr std::u16string_view kColumnCaptions[8] = {
    u"\u05DE\u05E1. \u05EA\u05E9\u05DC\u05D5\u05DD",             // payment number
    u"\u05EA\u05D0\u05E8\u05D9\u05DA",                           // date
    u"\u05E7\u05E8\u05DF",                                       // principal
    u"\u05E8\u05D9\u05D1\u05D9\u05EA",                           // interest
    u"\u05EA\u05E9\u05DC\u05D5\u05DD",                           // payment
    u"\u05D9\u05EA\u05E8\u05D4",                                 // balance
    u"\u05D0\u05D7\u05D5\u05D6 \u05E8\u05D9\u05D1\u05D9\u05EA",  // interest rate
    u"\u05DE\u05E1\u05E4\u05E8 \u05D9\u05DE\u05D9\u05DD",        // number of days
};

std::u16string Text(std::u16string_view view) { return std::u16string(view); }

// Derived texts are plain concatenations: no separator is added, removed or tested for.
std::u16string LocalWorkingFolder(const std::u16string& tempText) {
  return tempText + u"\\ZELMODAT";
}

}  // namespace

BuildTimeTexts SetUpBuildTimeTexts() {
  BuildTimeTexts texts;
  texts.fileServerName = Text(site::kFileServerName);
  texts.netDataPath = u"\\\\" + texts.fileServerName + u"\\ZELMODAT\\DATA";
  texts.companyText = Text(site::kCompanyText);
  return texts;
}

void WriteFirstLocalPath(TRegistry& registry, const std::u16string& tempText) {
  registry.WriteString(u"LocalPath", LocalWorkingFolder(tempText));
}

void WriteGlobalParams(TRegistry& registry, const BuildTimeTexts& texts,
                       const std::u16string& tempText) {
  for (const char16_t* name : {u"NetPath", u"DLLPath", u"CommonPath", u"NetLockPath"}) {
    registry.WriteString(name, texts.netDataPath);
  }
  registry.WriteString(u"LocalPath", LocalWorkingFolder(tempText));
  if (IsDesignatedAccount(CurrentUserName())) {
    // The designated account works without the three-tier server.
    registry.WriteInteger(u"MultiTier", 0);
  } else {
    registry.WriteInteger(u"MultiTier", 1);
    registry.WriteInteger(u"MultiTierPort", kMultiTierPort);
    registry.WriteString(u"MultiTierServer", texts.fileServerName);
  }
}

void WriteLocalParams(TRegistry& registry, const BuildTimeTexts& texts,
                      const std::u16string& tempText) {
  registry.WriteString(u"LastCompany", texts.companyText);
  registry.WriteString(u"LastNetPath", texts.netDataPath);
  registry.WriteString(u"NetPath", texts.netDataPath);
  registry.WriteString(u"LocalPath", tempText);  // the TEMP text itself, no folder appended
  registry.WriteString(u"DocPath", texts.netDataPath + u"\\Docs");
  registry.WriteInteger(u"Color", kBackgroundColor);
  registry.WriteString(u"FontName", u"Arial");
  registry.WriteInteger(u"FontSize", kFontSize);
  registry.WriteInteger(u"FontColor", 0);
  registry.WriteString(u"HsvPath", u"");
  registry.WriteInteger(u"Station", 1);
  // The five font groups go in the order the client's dialogs list them, not by number.
  struct FontGroup {
    char16_t digit;
    std::int32_t color;
  };
  for (const FontGroup group : {FontGroup{u'1', 0}, FontGroup{u'4', 0}, FontGroup{u'2', 0},
                                FontGroup{u'5', kBlue}, FontGroup{u'3', kRed}}) {
    registry.WriteString(u"FontName" + std::u16string(1, group.digit), u"Arial");
    registry.WriteInteger(u"FontSize" + std::u16string(1, group.digit), kFontSize);
    registry.WriteInteger(u"FontColor" + std::u16string(1, group.digit), group.color);
  }
  for (char16_t column = u'1'; column <= u'8'; ++column) {
    registry.WriteBool(u"Col" + std::u16string(1, column) + u"On", true);
  }
  for (int column = 0; column < 8; ++column) {
    registry.WriteString(u"Col" + std::u16string(1, static_cast<char16_t>(u'1' + column)) + u"Text",
                         Text(kColumnCaptions[column]));
  }
  registry.WriteBool(u"Installed3T", true);
}

void WriteFiles(TRegistry& registry, const std::u16string& tempText) {
  registry.WriteString(u"LastReport", tempText + u"\\LASTREP.REP");
}

}  // namespace zelmora
