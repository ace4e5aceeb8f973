#include "ui/logic/MainTexts.h"

#include "common/Format.h"

namespace {

constexpr const char* LauncherVersion = "1.0.0";

}  // namespace

std::string ProgressStatusLine(const std::string& statusText, const std::string& speedText) {
  return Format("%-30s %s", statusText.c_str(), speedText.c_str());
}

std::string VersionLabelText() {
  return Format("\xB0\xE6\xB1\xBE\xBA\xC5 : %s", LauncherVersion);  // "版本号 : %s"
}

TLinkAction LinkActionForTag(int tag, const TLauncherConfig& config) {
  TLinkAction action;
  switch (tag) {
    case 1: action = {TLinkKind::OpenUrl, config._HomePageUrl}; break;
    case 2: action = {TLinkKind::OpenUrl, config._BBSPageUrl}; break;
    case 3: action = {TLinkKind::OpenUrl, config._PayPageUrl}; break;
    case 4: action = {TLinkKind::WebPageCopy, config._RegistryPageUrl}; break;
    default: break;
  }
  if (action.Url.empty()) action.Kind = TLinkKind::None;
  return action;
}

