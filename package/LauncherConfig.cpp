#include "package/LauncherConfig.h"

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/Log.h"

TLauncherConfig LauncherConfig;

namespace {

std::string TLauncherConfig::*const Members[ConfigFieldsMax] = {
    &TLauncherConfig::_HomeGM,         &TLauncherConfig::_AutoClose,      &TLauncherConfig::_OnlyAwake,
    &TLauncherConfig::_GMID,           &TLauncherConfig::_LauName,        &TLauncherConfig::_ClientPatchUrl,
    &TLauncherConfig::_LauncherPathUrl, &TLauncherConfig::_HomePageUrl,   &TLauncherConfig::_RegistryPageUrl,
    &TLauncherConfig::_BBSPageUrl,     &TLauncherConfig::_PayPageUrl,     &TLauncherConfig::_NewsPageUrl,
    &TLauncherConfig::_ForgetUrl,      &TLauncherConfig::_PublicKey};

}  // namespace

const std::vector<std::string>& ConfigFieldNames() {
  static const std::vector<std::string> names = {
      "_HomeGM",      "_AutoClose",       "_OnlyAwake",  "_GMID",       "_LauName",
      "_ClientPatchUrl", "_LauncherPathUrl", "_HomePageUrl", "_RegistryPageUrl", "_BBSPageUrl",
      "_PayPageUrl",  "_NewsPageUrl",     "_ForgetUrl",  "_PublicKey"};
  return names;
}

void AssignConfigFields(TLauncherConfig& config, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < ConfigFieldsMax && i < fields.size(); ++i) config.*Members[i] = fields[i];
  for (size_t i = 0; i < ConfigFieldsMax; ++i)
    LogError(Format("Url %s=%s", ConfigFieldNames()[i].c_str(), (config.*Members[i]).c_str()));
}

void ApplyChannel(TLauncherConfig& config, const std::string& launcherBaseName) {
  const size_t dot = config._HomePageUrl.find('.');
  const int position = dot == std::string::npos ? 0 : static_cast<int>(dot + 1);
  const std::string homeRemainder = dot == std::string::npos ? std::string() : config._HomePageUrl.substr(dot + 1);
  LogError(Format("Url pos=%d strHome=%s", position, homeRemainder.c_str()));

  const std::vector<std::string> parts = SplitDelimited(launcherBaseName, '_');
  if (parts.size() < 2) return;
  config._PayPageUrl += Format("/pay_ditch/%s", parts[1].c_str());
  if (parts.size() >= 3) config._PayPageUrl += Format("/pay_ditch2/%s", parts[2].c_str());
  if (IsSwitchOn(config._HomeGM) && !homeRemainder.empty())
    config._HomePageUrl = Format("http://%s.%s", parts[1].c_str(), homeRemainder.c_str());
}

std::vector<std::string> BaseAddresses(const std::string& field) { return SplitDelimited(field, '|'); }

std::string FirstBaseAddress(const std::string& field) {
  if (field.find('|') == std::string::npos) return field;
  for (const std::string& base : BaseAddresses(field))
    if (!base.empty()) return base;
  return std::string();
}

std::string BaseAddressProblem(const std::string& field) {
  const std::vector<std::string> bases = BaseAddresses(field);
  if (bases.size() < 2) return std::string();
  for (size_t i = 0; i < bases.size(); ++i) {
    const std::string& base = bases[i];
    const int n = static_cast<int>(i + 1);
    if (base.empty()) return Format("address %d of %d is empty", n, static_cast<int>(bases.size()));
    if (base.compare(0, 7, "http://") != 0 && base.compare(0, 8, "https://") != 0)
      return Format("address %d (%s) is not http:// or https://", n, base.c_str());
  }
  return std::string();
}
