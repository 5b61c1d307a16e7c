#include "launcher/LaunchStatus.h"

namespace zelmora::launcher {

std::u16string_view StatusMeaning(UINT status) {
  switch (status) {
    case kSetUp:
      return u"set up";
    case kNotCompleted:
      return u"the tool did not complete";
    case kNotRecorded:
      return u"set up, but the record could not be written (the next run sets up again)";
    case kNoTool:
      return u"the tool is not beside the launcher";
    case kNotStartable:
      return u"the tool is there but could not be started";
    case kBadCommandLine:
      return u"bad command line";
    case kUninstallFailed:
      return u"the uninstall failed";
    case kTimedOut:
      return u"the tool did not end within 10 minutes and was ended";
    default:
      return u"the tool's own status";
  }
}

std::u16string StatusNumber(UINT status) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + status % 10));
    status /= 10;
  } while (status != 0);
  return digits;
}

}  // namespace zelmora::launcher
