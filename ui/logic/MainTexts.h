// Texts and small decisions of the main window: the progress status line,
// the version label and what a link button does.
#pragma once
#include <string>

#include "package/LauncherConfig.h"
#include "ui/logic/WebLinks.h"  // WebPageArguments, the web page copy's arguments

// "%-30s %s": the status padded with blanks to 30 bytes, one blank, the
// speed. A longer status is not cut.
std::string ProgressStatusLine(const std::string& statusText, const std::string& speedText);

// "版本号 : 1.0.0", code page 936.
std::string VersionLabelText();

enum class TLinkKind { None, OpenUrl, WebPageCopy };
struct TLinkAction {
  TLinkKind Kind = TLinkKind::None;
  std::string Url;
};
// What a link button with `tag` does: 1 home page, 2 forum, 3 payment
// (opened by the system), 4 registration (in the launcher's own web page
// window, a second copy started with "/web:" and the address); any other tag
// nothing. An empty address does nothing either: opening "" would show the
// current folder instead of a page.
TLinkAction LinkActionForTag(int tag, const TLauncherConfig& config);

