// The install-location check of the real launcher under Wine: started
// outside a game folder while the first uninstall key names one, it copies
// itself there, puts the desktop shortcut on the copy and hands over; the
// copy deletes the first file and stays.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/PathUtils.h"
#include "install/InstallRegistry.h"
#include "install/ShellShortcut.h"
#include "install/uInstallForm.h"
#include "install/logic/InstallLocation.h"
#include "platform/File.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "support/TestSupport.h"
#include "ui/MainSkin.h"

namespace {

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The launcher of this build (without a package, so _LauName is empty and
// the shortcut is named ".lnk").
std::string LauncherProgram() { return ExtractFilePath(GetModuleFilePath()) + "..\\launcher\\launcher.exe"; }

bool WaitFor(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

// Sets "UninstallString" of the first uninstall key for the test's life and
// removes the value afterwards.
class TUninstallValue {
public:
  explicit TUninstallValue(const std::string& value) {
    FSet = FKey.Open(HKEY_LOCAL_MACHINE, UninstallKey1, true) && FKey.WriteString(UninstallValue, value);
  }
  ~TUninstallValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey1, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, UninstallValue);
      RegCloseKey(key);
    }
  }
  bool Set() const { return FSet; }

private:
  TRegistryKey FKey;
  bool FSet = false;
};

// Ends the launcher window of another process, if one is up.
void CloseLauncherWindow() {
  const HWND window = FindWindowA("Client Launcher", nullptr);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  WaitFor(10000, [] { return FindWindowA("Client Launcher", nullptr) == nullptr; });
}

}  // namespace

TEST(WireInstall, LauncherOutsideTheGameFolderMovesThereAndTheCopyDeletesTheFirst) {
  ASSERT_TRUE(FileExists(LauncherProgram())) << LauncherProgram();
  ASSERT_EQ(FindWindowA("Client Launcher", nullptr), nullptr);
  TTempFolder root;
  const std::string downloads = Backslashed(root / "downloads\\");
  const std::string game = Backslashed(root / "game\\");
  ASSERT_TRUE(ForceDirectories(downloads));
  ASSERT_TRUE(ForceDirectories(game + "data"));
  WriteWholeFile(game + GameMarkerLibrary, "x");
  WriteWholeFile(game + GameMarkerD3dx, "x");
  const std::string first = downloads + "launcher.exe";
  ASSERT_TRUE(CopyFileAt(LauncherProgram(), first));
  const std::string link = ShortcutPath(DesktopFolderText(ReadDesktopValue(), WindowsFolder()), "");
  DeleteFileAt(link);

  TUninstallValue uninstall(game + "uninst.exe");
  ASSERT_TRUE(uninstall.Set());
  TStartedProcess started = StartProcess(first, "");
  ASSERT_TRUE(static_cast<bool>(started));
  // The first copy ends by itself once it has handed over.
  EXPECT_TRUE(started.WaitForExit(30000));
  EXPECT_TRUE(WaitFor(15000, [&] { return FileExists(game + "launcher.exe"); }));
  EXPECT_TRUE(WaitFor(15000, [&] { return !FileExists(first); })) << "the copy did not delete " << first;
  EXPECT_TRUE(FileExists(link));
  EXPECT_TRUE(SameFolder(ReadShellShortcutTarget(link), game + "launcher.exe")) << ReadShellShortcutTarget(link);
  // The copy in the game folder goes on with its window.
  EXPECT_TRUE(WaitFor(15000, [] { return FindWindowA("Client Launcher", nullptr) != nullptr; }));
  CloseLauncherWindow();
  DeleteFileAt(link);
}

namespace {

RECT ChildRect(HWND parent, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Click(HWND button) {
  PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

}  // namespace

// TForm1: its frame, controls and texts; "安装" ends the modal run with OK,
// the close box without it; the owner is disabled only meanwhile.
TEST(WireInstall, InstallFolderDialogLayoutAndModalResults) {
  const HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  {
    TForm1 form(owner);
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_EQ(GetWindow(form.Handle(), GW_OWNER), owner);
    EXPECT_TRUE(GetWindowLongA(form.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, 313);
    EXPECT_EQ(client.bottom, 122);
    EXPECT_EQ(form.Caption(), InstallDialogCaption);
    const RECT edit = ChildRect(form.Handle(), form.Edit1());
    EXPECT_EQ(edit.left, 32);
    EXPECT_EQ(edit.top, 24);
    EXPECT_EQ(edit.right - edit.left, 209);
    EXPECT_EQ(edit.bottom - edit.top, 21);
    const RECT browse = ChildRect(form.Handle(), form.Button1());
    EXPECT_EQ(browse.left, 248);
    EXPECT_EQ(browse.right - browse.left, 49);
    const RECT install = ChildRect(form.Handle(), form.Button2());
    EXPECT_EQ(install.left, 104);
    EXPECT_EQ(install.top, 64);
    EXPECT_EQ(install.right - install.left, 97);
    EXPECT_EQ(install.bottom - install.top, 41);
    wchar_t caption[16] = {};
    GetWindowTextW(form.Button2(), caption, 16);
    EXPECT_EQ(Utf16ToCp936(std::u16string(caption, caption + wcslen(caption))), InstallButtonCaption);

    const std::string folder = "C:\\Quellan\xCE\xA2\xB6\xCB\\";  // "C:\Quellan微端\"
    form.SetEditText(folder);
    Click(form.Button2());
    EXPECT_EQ(form.ShowModal(), 1);
    EXPECT_EQ(form.EditText(), folder);
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_TRUE(IsWindowEnabled(owner));

    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form.ShowModal(), 2);
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_TRUE(IsWindowEnabled(owner));
  }
  DestroyWindow(owner);
}

namespace {

struct TFoundWindow {
  DWORD process;
  const char* className;
  HWND window = nullptr;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<TFoundWindow*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (process != found->process || std::string(name) != found->className) return TRUE;
  found->window = window;
  return FALSE;
}

// A top-level window of `className` that belongs to `process`.
HWND ProcessWindow(DWORD process, const char* className) {
  TFoundWindow found{process, className};
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&found));
  return found.window;
}

}  // namespace

// "/web:" opens only the web page window, also while another launcher runs
// (here a main window of this process), and the program ends with it.
TEST(WireInstall, WebModeShowsOnlyTheWebPageWindow) {
  ASSERT_TRUE(FileExists(LauncherProgram())) << LauncherProgram();
  TfrmMainSkin running;
  running.EndsApplication = false;
  ASSERT_EQ(FindWindowA(MainWindowClassName, nullptr), running.Handle());
  TTempFolder folder;
  const std::string program = Backslashed(folder / "launcher.exe");
  ASSERT_TRUE(CopyFileAt(LauncherProgram(), program));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + program + "\" /web:http://127.0.0.1:1/page";
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  HWND page = nullptr;
  EXPECT_TRUE(WaitFor(20000, [&] { return (page = ProcessWindow(info.dwProcessId, "TfrmWebPage")) != nullptr; }));
  EXPECT_EQ(ProcessWindow(info.dwProcessId, "Client Launcher"), nullptr);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  if (page) PostMessageA(page, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}
