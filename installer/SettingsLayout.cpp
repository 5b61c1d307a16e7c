#include "installer/SettingsLayout.h"

#include "host/Registry.h"

namespace zelmora {
namespace {

// Display defaults: the background colour, and the font colours of groups 5 and 3.
constexpr std::int32_t kBackgroundColor = 0xD4DAD5;
constexpr std::int32_t kBlue = 0xFF0000;
constexpr std::int32_t kRed = 0x0000FF;
constexpr std::int32_t kFontSize = 9;

// The company and the payment schedule's column captions, in Hebrew, logical order.
constexpr std::u16string_view kCompanyText = u"\u05E0\u05D1\u05D3\u05E8\u05D5\u05DF";
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

}  // namespace

SettingsPaths DeriveSettingsPaths(const std::u16string& tempText) {
  SettingsPaths paths;
  paths.netDataPath = u"\\\\" + Text(kFileServerName) + u"\\ZELMODAT\\DATA";
  paths.tempText = tempText;
  paths.localWorkingFolder = tempText + u"\\ZELMODAT";
  paths.documentFolder = paths.netDataPath + u"\\Docs";
  paths.lastReportFile = tempText + u"\\LASTREP.REP";
  return paths;
}

std::vector<Setting> LocalParamsSettings(const SettingsPaths& paths) {
  std::vector<Setting> settings = {
      {u"LastCompany", Text(kCompanyText)},
      {u"LastNetPath", paths.netDataPath},
      {u"NetPath", paths.netDataPath},
      {u"LocalPath", paths.tempText},
      {u"DocPath", paths.documentFolder},
      {u"Color", kBackgroundColor},
      {u"FontName", u"Arial"},
      {u"FontSize", kFontSize},
      {u"FontColor", std::int32_t{0}},
      {u"HsvPath", u""},
      {u"Station", std::int32_t{1}},
  };
  // The five font groups go in the order the client's dialogs list them, not by number.
  struct FontGroup {
    char16_t digit;
    std::int32_t color;
  };
  for (const FontGroup group : {FontGroup{u'1', 0}, FontGroup{u'4', 0}, FontGroup{u'2', 0},
                                FontGroup{u'5', kBlue}, FontGroup{u'3', kRed}}) {
    settings.push_back({u"FontName" + std::u16string(1, group.digit), u"Arial"});
    settings.push_back({u"FontSize" + std::u16string(1, group.digit), kFontSize});
    settings.push_back({u"FontColor" + std::u16string(1, group.digit), group.color});
  }
  for (char16_t column = u'1'; column <= u'8'; ++column) {
    settings.push_back({u"Col" + std::u16string(1, column) + u"On", true});
  }
  for (int column = 0; column < 8; ++column) {
    settings.push_back({u"Col" + std::u16string(1, static_cast<char16_t>(u'1' + column)) + u"Text",
                        Text(kColumnCaptions[column])});
  }
  settings.push_back({u"Installed3T", true});
  return settings;
}

void WriteSetting(TRegistry& registry, const Setting& setting) {
  if (const auto* text = std::get_if<std::u16string>(&setting.value)) {
    registry.WriteString(setting.name, *text);
  } else if (const auto* number = std::get_if<std::int32_t>(&setting.value)) {
    registry.WriteInteger(setting.name, *number);
  } else {
    registry.WriteBool(setting.name, std::get<bool>(setting.value));
  }
}

}  // namespace zelmora
