// The command-line modes of the program entry, settled before any window:
// the web page window ("/web:"), the self-update swap (a program named
// <base>.update), or the launcher (with the hand-over argument 1 and the
// /repair switch).
#pragma once
#include <string>
#include <vector>

enum class TEntryMode { WebPage, SelfUpdate, Launcher };

struct TEntryChoice {
  TEntryMode Mode = TEntryMode::Launcher;
  std::string WebAddress;  // WebPage: the text after "/web" and one more character
  std::string HandOver;    // Launcher: argument 1, the file a hand-over left, or empty
  bool Repair = false;     // Launcher: "/repair" among the arguments
};

// The switch that starts a repair of the game files once the window is up.
constexpr const char* RepairSwitch = "/repair";

// `arguments` are the command-line arguments, index 0 the program path.
TEntryChoice ChooseEntryMode(const std::vector<std::string>& arguments, const std::string& programPath);

// The first argument, from index 0 on, that contains "/web": true with the
// text after "/web" and one further character (normally the ":").
bool FindWebAddress(const std::vector<std::string>& arguments, std::string& address);
