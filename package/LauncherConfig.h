// The launcher configuration: what one build of the launcher carries in its
// appended package (web addresses, update sources, switches).
#pragma once
#include <string>
#include <vector>

struct TLauncherConfig {
  std::string _HomeGM;           // switch: home page rewritten with the channel
  std::string _AutoClose;        // switch: close after a game client started
  std::string _OnlyAwake;        // switch: keep only servers whose clienttype is not 0
  std::string _GMID;             // operator's game number for the directory request
  std::string _LauName;          // display name (shortcut name and description)
  std::string _ClientPatchUrl;   // base address of update run 0 (game client files)
  std::string _LauncherPathUrl;  // base address of update run 1 (launcher files)
  std::string _HomePageUrl;
  std::string _RegistryPageUrl;
  std::string _BBSPageUrl;
  std::string _PayPageUrl;
  std::string _NewsPageUrl;
  std::string _ForgetUrl;        // empty when the package has only 12 fields
  // The key whose signatures the update runs require of the server's
  // documents ("p256:" + base64). Empty: the package carries none and the
  // runs take the documents unsigned, as launchers before it do.
  std::string _PublicKey;
  std::string DownloadHost;      // handed to the update thread; nothing sets it
};

constexpr size_t ConfigFieldsRequired = 12;
// The fields the launcher reads; any after them are ignored. The public key
// came last, so a launcher that reads 13 fields reads a package with a key
// unchanged.
constexpr size_t ConfigFieldsMax = 14;
constexpr size_t PublicKeyField = 13;

// A switch member is on only when its text is exactly "1".
inline bool IsSwitchOn(const std::string& value) { return value == "1"; }

// The process-wide configuration, filled once by initconfig.
extern TLauncherConfig LauncherConfig;

// Assigns fields 0..13 to the members in package order and logs each member.
void AssignConfigFields(TLauncherConfig& config, const std::vector<std::string>& fields);
// Appends the channel suffixes of the launcher base name to the pay page and
// rewrites the home page's host with the channel when _HomeGM is on.
void ApplyChannel(TLauncherConfig& config, const std::string& launcherBaseName);
// Field names in package order, for the package tool and the log lines.
const std::vector<std::string>& ConfigFieldNames();

// The fields that hold the update runs' base addresses: one, or several
// joined by "|" in the order the runs try them.
constexpr size_t ClientPatchUrlField = 5;
constexpr size_t LauncherPathUrlField = 6;
inline bool IsBaseAddressField(size_t field) {
  return field == ClientPatchUrlField || field == LauncherPathUrlField;
}
// The addresses of a base address field, in order ("|" splits them).
std::vector<std::string> BaseAddresses(const std::string& field);
// The one address the game client is told ("/cdn:"): the field as it is,
// or the first of several.
std::string FirstBaseAddress(const std::string& field);
// Why a field of several addresses would lose one in the runs (an empty
// one, one that is not http:// or https://); empty when none would. A field
// of one address is taken as it is.
std::string BaseAddressProblem(const std::string& field);
