#include "tools/launcher-pack/PackArguments.h"

#include "platform/CodePage.h"

namespace {

// The options of `pack` that take a value, and where the value goes.
struct TValueOption {
  const char* name;
  std::string TPackOptions::*target;
};

const TValueOption PackValueOptions[] = {
    {"--exe", &TPackOptions::exePath},           {"--config", &TPackOptions::configPath},
    {"--skin", &TPackOptions::skinFolder},       {"--positions", &TPackOptions::positionsPath},
    {"-o", &TPackOptions::outPath},              {"--output", &TPackOptions::outPath},
};

bool ParsePackOption(const std::vector<std::string>& args, size_t& i, TPackOptions& pack, std::string& error) {
  const std::string& arg = args[i];
  if (arg == "--config-cp936") {
    pack.configIsCp936 = true;
    return true;
  }
  if (arg == "--replace") {
    pack.replace = true;
    return true;
  }
  if (arg == "--public-key") {
    if (i + 1 >= args.size()) {
      error = arg + " needs a value";
      return false;
    }
    pack.publicKey = args[++i];
    pack.publicKeyGiven = true;
    return true;
  }
  for (const TValueOption& option : PackValueOptions) {
    if (arg != option.name) continue;
    if (i + 1 >= args.size()) {
      error = arg + " needs a value";
      return false;
    }
    pack.*option.target = Utf8ToCp936(args[++i]);
    return true;
  }
  error = "unknown option " + arg;
  return false;
}

bool ParsePack(const std::vector<std::string>& args, TPackOptions& pack, std::string& error) {
  for (size_t i = 1; i < args.size(); ++i)
    if (!ParsePackOption(args, i, pack, error)) return false;
  const std::pair<const char*, const std::string*> required[] = {{"--exe", &pack.exePath},
                                                                  {"--config", &pack.configPath},
                                                                  {"--skin", &pack.skinFolder},
                                                                  {"--positions", &pack.positionsPath},
                                                                  {"-o", &pack.outPath}};
  for (const auto& [name, value] : required) {
    if (value->empty()) {
      error = std::string("pack needs ") + name;
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseToolArguments(const std::vector<std::string>& args, TToolArguments& result, std::string& error) {
  result = TToolArguments();
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") return true;
  if (args[0] == "pack") {
    result.command = TToolCommand::Pack;
    return ParsePack(args, result.pack, error);
  }
  if (args[0] == "inspect") {
    result.command = TToolCommand::Inspect;
    if (args.size() != 2 || args[1].empty() || args[1][0] == '-') {
      error = "inspect takes one file";
      return false;
    }
    result.inspectPath = Utf8ToCp936(args[1]);
    return true;
  }
  error = "unknown command " + args[0];
  return false;
}

const char* ToolUsage() {
  return "usage:\n"
         "  launcher-pack pack --exe IN.exe --config CONFIG.txt --skin SKIN_DIR --positions POSITIONS.json\n"
         "                     -o OUT.exe [--config-cp936] [--replace] [--public-key TEXT]\n"
         "      appends the package (configuration, skin images, positions) to a copy of IN.exe;\n"
         "      --public-key (or a 14th field of CONFIG.txt) makes the launcher accept only releases\n"
         "      signed with that key (the text launcher-keys prints)\n"
         "  launcher-pack inspect FILE\n"
         "      prints and checks the package at the end of FILE\n";
}
