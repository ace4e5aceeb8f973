// The questions of the install-folder dialog TForm1 when no game folder is
// known: the dialog comes back until the player gives a folder that exists
// or can be made, or closes it without "安装".
#pragma once
#include <functional>
#include <string>

// One showing of the dialog: `edit` holds Edit1's text before and after;
// `retry` is set from the second showing on (the caption then reads
// "该路径不存在，请重新设置"). False when it was closed without OK.
using TShowInstallDialog = std::function<bool(std::string& edit, bool retry)>;

// `folder` comes in as the proposed default folder (Edit1's first text) and
// goes out as the existing folder the player gave. False when the player
// closed the dialog without OK: a folder typed before that, which could not
// be made, is not taken.
bool PromptInstallFolder(std::string& folder, const TShowInstallDialog& showDialog,
                         const std::function<bool(const std::string&)>& directoryExists,
                         const std::function<bool(const std::string&)>& forceDirectories);
