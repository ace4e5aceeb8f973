#include "package/LauncherSettings.h"

#include "platform/Profile.h"

std::string SettingsPath(const std::string& folder) { return folder + SettingsFileName; }

int ReadLastServer(const std::string& folder) {
  return ReadIniInt(SettingsPath(folder), SettingsSection, "lastserver", 0);
}

void WriteLastServer(const std::string& folder, int serverId) {
  WriteIniInt(SettingsPath(folder), SettingsSection, "lastserver", serverId);
}

int ReadUpdateNow(const std::string& folder) {
  return ReadIniInt(SettingsPath(folder), SettingsSection, "UpdateNow", 0);
}

void WriteUpdateNow(const std::string& folder, int plan) {
  WriteIniInt(SettingsPath(folder), SettingsSection, "UpdateNow", plan);
}

int ReadMaxSpeed(const std::string& folder) {
  const int speed = ReadIniInt(SettingsPath(folder), SettingsSection, "maxspeed", 0);
  return speed > 0 ? speed : 0;
}
