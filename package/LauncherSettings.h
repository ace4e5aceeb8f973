// launcher.ini in the launcher folder: what the launcher learns while it
// runs. Each access opens the file, does one read or write and closes it.
#pragma once
#include <string>

constexpr const char* SettingsFileName = "launcher.ini";
constexpr const char* SettingsSection = "Main";

// `folder` is the launcher folder with its trailing separator.
std::string SettingsPath(const std::string& folder);

int ReadLastServer(const std::string& folder);
// Throws EIniFileError("Unable to write to <path>") when the write fails.
void WriteLastServer(const std::string& folder, int serverId);

// The update plan: 0 compare first, 1 incremental update, 2 full package first.
int ReadUpdateNow(const std::string& folder);
void WriteUpdateNow(const std::string& folder, int plan);

// "maxspeed": the cap on the update run's downloads in KB/s; 0 (or absent,
// or negative) means none.
int ReadMaxSpeed(const std::string& folder);
