#include "installer/InstallationRun.h"

#include <memory>
#include <string>

#include "installer/SettingsLayout.h"
#include "registry/StdOutChannel.h"
#include "installer/WorkstationFacts.h"
#include "registry/Registry.h"

namespace zelmora {
namespace {

void PrintLine(std::u16string_view line) {
  StdOut().WriteLine(line);
  CheckIoResult();
}

// Each stage opens its key from the root, with no key open, and ignores OpenKey's answer: a key
// that cannot be opened shows up as the failure of the first write after it.
void OpenFromRoot(TRegistry& registry, std::u16string_view key) {
  registry.OpenKey(std::u16string(key), true);
}

void WriteGlobalParams(TRegistry& registry, const BuildTimeTexts& texts,
                       const std::u16string& tempText) {
  registry.SetRootKey(platform::kHkeyCurrentUser);
  OpenFromRoot(registry, kGlobalParamsKey);
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
  registry.CloseKey();
}

void WriteLocalParamsAndFiles(TRegistry& registry, const BuildTimeTexts& texts,
                              const std::u16string& tempText) {
  registry.SetRootKey(platform::kHkeyCurrentUser);
  OpenFromRoot(registry, kLocalParamsKey);
  WriteLocalParamsSettings(registry, texts, tempText);
  registry.CloseKey();
  OpenFromRoot(registry, kFilesKey);  // the root key is not set again
  registry.WriteString(u"LastReport", LastReportFile(tempText));
  registry.CloseKey();
}

}  // namespace

void RunInstallation() {
  const BuildTimeTexts texts = SetUpBuildTimeTexts();
  // Created outside every guard: a failure here leaves the run. Released on every path.
  auto registry = std::make_unique<TRegistry>();
  bool failed = false;

  try {
    std::u16string tempText;
    try {
      tempText = EnvironmentValue(u"TEMP");
      failed = false;
    } catch (...) {
      failed = true;  // stage 1 still runs, with an empty TEMP
    }

    try {
      registry->SetRootKey(platform::kHkeyCurrentUser);
      OpenFromRoot(*registry, kLocalParamsKey);
      try {
        registry->WriteString(u"LocalPath", LocalWorkingFolder(tempText));
      } catch (...) {
        // The first write is a courtesy; the last stage writes this key in full.
      }
      registry->CloseKey();
    } catch (...) {
      failed = true;
      PrintLine(u"Error in accessing the registry");
    }
    if (!failed) {
      try {
        WriteGlobalParams(*registry, texts, tempText);
      } catch (...) {
        failed = true;
      }
      if (!failed) WriteLocalParamsAndFiles(*registry, texts, tempText);  // no guard of its own
    }
  } catch (...) {
    failed = true;
  }

  registry.reset();  // closes the key a failed stage left open
  PrintLine(failed ? u"Installation Error" : u"Zelmora Installed");
}

}  // namespace zelmora
