// The desktop shortcut: a Shell Link file made through IShellLinkA and
// IPersistFile, and its target read back.
#pragma once
#include <string>

// Writes `linkPath` (code page 936) as a shortcut to `target` with
// `arguments`, the target's folder as working folder and `description`. An
// existing file is overwritten. False when any step fails (the install check
// goes on either way).
bool CreateShellShortcut(const std::string& target, const std::string& arguments, const std::string& description,
                         const std::string& linkPath);

// The target path of a shortcut file, empty when it cannot be read.
std::string ReadShellShortcutTarget(const std::string& linkPath);
