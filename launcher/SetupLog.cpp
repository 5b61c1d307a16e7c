#include "launcher/SetupLog.h"

#include "launcher/Environment.h"
#include "launcher/FileWrite.h"
#include "registry/Environment.h"

namespace zelmora::launcher {

void KeepLog(std::string_view captured, char16_t separator) {
  for (const char16_t* variable : {u"TEMP", u"TMP", u"USERPROFILE"}) {
    const std::u16string folder = EnvironmentValue(variable);
    if (folder.empty()) continue;
    if (WriteWholeFile(InFolder(folder, u"zelmora-setup.log", separator), captured)) return;
  }
}

}  // namespace zelmora::launcher
