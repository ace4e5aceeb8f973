// The install-location check of the first RunTimer tick: stay in a game
// folder, or move into the game folder and hand over to the copy there.
#pragma once
#include <functional>
#include <string>

struct TInstallCheckInputs {
  std::string programPath;   // the running program's full path
  std::string launcherName;  // _LauName: shortcut name and description
  std::string desktopFolder; // with its trailing backslash
  std::function<std::string(int)> readUninstall;          // "UninstallString" of key 1 or 2
  std::function<bool(const std::string&)> writeSecondKey;  // the chosen folder into key 2
  // The install-folder dialog: `folder` comes in as the proposed default
  // folder and goes out as the one the player gave; false when the player
  // cancels.
  std::function<bool(std::string& folder)> askPlayer;
  // Starts the copy with the first copy's full path as its parameter text
  // (in quotes when it holds a blank).
  std::function<bool(const std::string& copy, const std::string& parameter)> startCopy;
};

// The launcher's own inputs: the running program, the registry, the desktop,
// the shell's "open" verb. `askPlayer` comes from the window (TForm1).
TInstallCheckInputs LauncherInstallCheckInputs(const std::string& launcherName,
                                               std::function<bool(std::string& folder)> askPlayer);

enum class TInstallCheckResult {
  GoOn,       // this launcher stays and runs the update
  HandedOver, // the copy in the game folder was started: end this one
  Cancelled,  // the player gave no folder: the caller ends every process
              // started from this program file (KillProcessesOfProgram)
  CopyFailed, // the copy, its shortcut or its start failed (logged): this
              // launcher stays and runs where it is, after telling the player
};

TInstallCheckResult RunInstallLocationCheck(const TInstallCheckInputs& inputs);
