#include "launcher/LauncherRun.h"

#include <optional>
#include <string>

#include "launcher/ConsoleLine.h"
#include "launcher/Decision.h"
#include "launcher/Environment.h"
#include "launcher/HeldTool.h"
#include "launcher/LaunchOptions.h"
#include "launcher/LaunchStatus.h"
#include "launcher/Reports.h"
#include "launcher/SetupLog.h"
#include "launcher/SetupRecord.h"
#include "launcher/ToolProcess.h"
#include "launcher/Uninstall.h"
#include "registry/Environment.h"

namespace zelmora::launcher {
namespace {

using platform::UINT;

// What became of the tool, once it is let go.
struct Outcome {
  UINT status = kSetUp;
  bool skipped = false;
  bool ran = false;
  std::u16string identity;
  std::string captured;
};

Outcome RunOnce(const std::u16string& toolPath) {
  Outcome outcome;
  const HeldTool tool(toolPath);
  if (tool.Presence() != ToolPresence::Held) {
    outcome.status = tool.Presence() == ToolPresence::Absent ? kNoTool : kNotStartable;
    return outcome;
  }
  outcome.identity = tool.Identity();
  const SetupRecord now{tool.Identity(), EnvironmentValue(u"TEMP")};
  const std::optional<SetupRecord> record = ReadSetupRecord();
  if (!now.build.empty() && record == now) {
    outcome.skipped = true;
    return outcome;
  }
  ToolRun run = RunTool(tool);
  switch (run.ending) {
    case ToolRun::Ending::NotStarted:
      outcome.status = kNotStartable;
      return outcome;
    case ToolRun::Ending::TimedOut:
      outcome.status = kTimedOut;
      break;
    case ToolRun::Ending::Ended: {
      const Decision decision = Decide(run.status, run.captured);
      outcome.status = decision.status;
      if (decision.complete && !WriteSetupRecord(now)) outcome.status = kNotRecorded;
      break;
    }
  }
  outcome.ran = true;
  outcome.captured = std::move(run.captured);
  return outcome;
}

}  // namespace

UINT RunLauncher(std::u16string_view toolFileName) {
  std::u16string problem;
  const std::optional<LaunchOptions> options = ReadOptions(&problem);
  if (!options) {
    PrintErrorLine(u"zelmora-launch: bad command line: " + problem + u" (try /?)");
    return kBadCommandLine;
  }
  if (options->action == LaunchOptions::Action::Usage) {
    PrintLine(UsageLine());
    return kSetUp;
  }
  if (options->action == LaunchOptions::Action::Uninstall) {
    const UINT status = Uninstall();
    PrintLine(UninstallLine(status));
    return status;
  }

  const std::u16string ownPath = OwnPath();
  const char16_t separator = SeparatorOf(ownPath);
  const Outcome outcome = RunOnce(InFolder(FolderOf(ownPath), toolFileName, separator));
  if (outcome.ran) KeepLog(outcome.captured, separator);
  if (options->reportsFolder && !outcome.skipped) {
    if (outcome.status != kSetUp) {
      WriteReport(*options->reportsFolder, outcome.status, outcome.identity, outcome.captured,
                  separator);
    } else {
      RemoveReport(*options->reportsFolder, separator);
    }
  }
  PrintLine(RunLine({outcome.status, outcome.skipped, outcome.identity, outcome.captured}));
  return outcome.status;
}

}  // namespace zelmora::launcher
