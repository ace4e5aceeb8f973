#include "tools/launcher-pack/LauncherPack.h"

#include "tools/launcher-pack/InspectCommand.h"
#include "tools/launcher-pack/PackArguments.h"
#include "tools/launcher-pack/PackCommand.h"

int RunLauncherPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TToolArguments arguments;
  std::string error;
  if (!ParseToolArguments(args, arguments, error)) {
    err << "launcher-pack: " << error << '\n' << ToolUsage();
    return ExitUsage;
  }
  switch (arguments.command) {
    case TToolCommand::Help:
      out << ToolUsage();
      return ExitOk;
    case TToolCommand::Inspect:
      return InspectPackage(arguments.inspectPath, out) ? ExitOk : ExitFailed;
    case TToolCommand::Pack:
      if (RunPack(arguments.pack, out, error)) return ExitOk;
      err << "launcher-pack: " << error << '\n';
      return ExitFailed;
  }
  return ExitUsage;
}
