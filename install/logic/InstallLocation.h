// Where this launcher belongs: the game environment test of a folder, the
// install decision from the launcher folder and the two uninstall entries,
// and the texts and paths around the move into the game folder. Portable;
// the registry, the dialog, the copy and the shell live in the Win32 part.
#pragma once
#include <functional>
#include <string>

// Files and folders that mark a game installation.
constexpr const char* GameMarkerLibrary = "Korblib.dll";
constexpr const char* GameMarkerD3dx = "d3dx9_43.dll";

// Registry places (the HKEY_LOCAL_MACHINE uninstall keys of the game, and the
// HKEY_CURRENT_USER shell folders key with its "Desktop" value).
constexpr const char* UninstallKey1 = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellan";
constexpr const char* UninstallKey2 =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellan\xCE\xA2\xB6\xCB";  // "...\Quellan微端"
constexpr const char* UninstallValue = "UninstallString";
constexpr const char* ShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* DesktopValue = "Desktop";

// Texts of the install-folder dialog TForm1.
constexpr const char* InstallDialogCaption =
    "\xC7\xEB\xC9\xE8\xD6\xC3\xD3\xCE\xCF\xB7\xB0\xB2\xD7\xB0\xC2\xB7\xBE\xB6\xA3\xBA";  // "请设置游戏安装路径："
constexpr const char* InstallDialogRetryCaption =
    "\xB8\xC3\xC2\xB7\xBE\xB6\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xC9\xE8\xD6\xC3";  // "该路径不存在，请重新设置"
constexpr const char* InstallButtonCaption = "\xB0\xB2\xD7\xB0";  // "安装"
constexpr const char* FolderBrowserTitle =
    "\xC7\xEB\xC9\xE8\xD6\xC3\xD2\xAA\xB1\xA3\xB4\xE6\xD3\xCE\xCF\xB7\xB5\xC4\xC4\xBF\xC2\xBC";  // "请设置要保存游戏的目录"
constexpr unsigned FolderBrowserFlags = 0x41;  // file-system folders only, new dialog style
// The box of a failed move into the game folder (error icon): the launcher
// then runs where it is. "游戏安装失败, 启动器将在当前目录运行！", caption "错误".
constexpr const char* InstallFailedText =
    "\xD3\xCE\xCF\xB7\xB0\xB2\xD7\xB0\xCA\xA7\xB0\xDC, \xC6\xF4\xB6\xAF\xC6\xF7\xBD\xAB\xD4\xDA"
    "\xB5\xB1\xC7\xB0\xC4\xBF\xC2\xBC\xD4\xCB\xD0\xD0\xA3\xA1";
constexpr const char* InstallFailedCaption = "\xB4\xED\xCE\xF3";

// A folder holds the game when "Korblib.dll" and "d3dx9_43.dll" exist in it
// and so does the directory "data" (or else "data\ui"). A folder text gets a
// trailing backslash when it has none; an empty one becomes "\".
bool HasGameEnvironment(const std::string& folder);

// The directory part of an "UninstallString" value, or empty when that is
// not an existing directory.
std::string GameFolderFromUninstall(const std::string& uninstallString);

// Equality of two folders after both are turned to upper case (A to Z; the
// trail byte of a double-byte character stays as it is).
bool SameFolder(const std::string& a, const std::string& b);

enum class TInstallAction {
  StayHere,  // refresh the shortcut to this program and go on
  MoveTo,    // copy into gameFolder, shortcut to the copy, start it, end
  AskPlayer, // no folder known: the dialog, then as MoveTo
};

struct TInstallDecision {
  TInstallAction action = TInstallAction::StayHere;
  std::string gameFolder;
  // The folder came (or will come) from the second uninstall key, which then
  // receives the folder chosen.
  bool secondKeyInUse = false;
};

// The install-location check's decision. `readUninstall(n)` gives the
// "UninstallString" of uninstall key n (1 or 2), empty when it cannot be read;
// the second key is read only when the first names no existing folder.
TInstallDecision DecideInstallLocation(const std::string& launcherFolder,
                                       const std::function<std::string(int)>& readUninstall);

// The folder text with one trailing backslash: added when the last
// character is none (a double-byte character's trail byte 0x5C is no
// separator); an empty text becomes "\".
std::string FolderWithBackslash(const std::string& folder);

// "D:\Quellan微端\" when the directory "D:\" exists, else "C:\Quellan微端\".
std::string DefaultGameFolder(bool driveDExists);
// A folder picked in the browser: a backslash appended unless the path is a
// three-character drive root such as "C:\".
std::string BrowsedFolderText(const std::string& path);
// The "Desktop" value, or the Windows folder when it is empty, with a
// trailing backslash when longer than 3 characters (a drive root has one).
std::string DesktopFolderText(const std::string& desktopValue, const std::string& windowsFolder);
// desktop folder + _LauName + ".lnk"
std::string ShortcutPath(const std::string& desktopFolder, const std::string& launcherName);
