#include "installer/InstallationRun.h"

#include <memory>
#include <string>

#include "installer/SettingsLayout.h"
#include "installer/WorkstationFacts.h"
#include "registry/Registry.h"
#include "registry/StdOutChannel.h"

namespace zelmora {
namespace {

void PrintLine(std::u16string_view line) {
  StdOut().WriteLine(line);
  CheckIoResult();
}

// Each stage opens its keys from the root, with no key open, and ignores OpenKey's answer: a key
// that cannot be opened shows up as the failure of the first write after it. A failed write
// leaves its key open, for the registry object's destruction to close.
template <typename Writes>
void WriteKey(TRegistry& registry, std::u16string_view key, Writes writes) {
  registry.OpenKey(std::u16string(key), true);
  writes();
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

    try {  // stage 1
      registry->SetRootKey(platform::kHkeyCurrentUser);
      WriteKey(*registry, kLocalParamsKey, [&] {
        try {
          WriteFirstLocalPath(*registry, tempText);
        } catch (...) {
          // The first write is a courtesy; the last stage writes this key in full.
        }
      });
    } catch (...) {
      failed = true;
      PrintLine(u"Error in accessing the registry");
    }
    if (!failed) {
      try {  // stage 2
        registry->SetRootKey(platform::kHkeyCurrentUser);
        WriteKey(*registry, kGlobalParamsKey,
                 [&] { WriteGlobalParams(*registry, texts, tempText); });
      } catch (...) {
        failed = true;
      }
      if (!failed) {  // stage 3, with no guard of its own
        registry->SetRootKey(platform::kHkeyCurrentUser);
        WriteKey(*registry, kLocalParamsKey, [&] { WriteLocalParams(*registry, texts, tempText); });
        // The root key is not set again.
        WriteKey(*registry, kFilesKey, [&] { WriteFiles(*registry, tempText); });
      }
    }
  } catch (...) {
    failed = true;
  }

  registry.reset();  // closes the key a failed stage left open
  PrintLine(failed ? u"Installation Error" : u"Zelmora Installed");
}

}  // namespace zelmora
