// The main window with the directory service, the server picker and the game
// launch under Wine: the directory-service tool of the peers (game 12 at port
// base + 20) or a UDP socket of the test playing a silent or garbling
// service, and the stand-in game client as Client.bin.
#include "launcher/uBGForm.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "install/InstallRegistry.h"
#include "install/logic/InstallLocation.h"
#include "net/UdpTestPeer.h"
#include "net/cUdpSocket.h"
#include "net/uUDPEcho.h"
#include "package/LauncherConfig.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "servers/DirectoryFrame.h"
#include "support/MessagePump.h"
#include "support/TestSupport.h"

namespace {

// The window with its message boxes recorded instead of shown.
class TTestMain : public TfrmMain {
public:
  using TfrmMain::TfrmMain;
  struct TBox {
    std::string text, caption;
    UINT flags;
  };
  std::vector<TBox> boxes;

protected:
  void ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) override {
    boxes.push_back({text, caption, flags});
  }
};

// The configuration a test sets, restored afterwards.
class TConfigScope {
public:
  TConfigScope() : FSaved(LauncherConfig) {
    LauncherConfig._GMID = "12";
    LauncherConfig._AutoClose = "";
    LauncherConfig._RegistryPageUrl = "http://reg.test/r?a=1";
    // Two mirrors: the game is told the first.
    LauncherConfig._ClientPatchUrl = "http://cdn.test/patch|http://cdn2.test/patch";
    LauncherConfig._ForgetUrl = "";
  }
  ~TConfigScope() { LauncherConfig = FSaved; }

private:
  TLauncherConfig FSaved;
};

// The directory socket opens on its worker; a request before that is not sent.
void WaitForDirectorySocket(TfrmMain& form) {
  ASSERT_NE(form.DirectorySocket(), nullptr);
  ASSERT_TRUE(PumpUntil(5000, [&] { return form.DirectorySocket()->IsOpen(); }));
}

TMainWindowPlaces Places(const std::string& folder, uint16_t port) {
  TMainWindowPlaces places;
  places.launcherFolder = folder;
  places.resolveDirectoryHost = false;
  places.directoryAddresses = {"127.0.0.1"};
  places.directoryPort = port;
  places.runInstallCheck = false;
  return places;
}

// The stand-in game client of this build as `folder` + `name`.
void InstallGameClient(const std::string& folder, const std::string& name) {
  const std::string client = ExtractFilePath(GetModuleFilePath()) + "..\\tools\\test-game-client\\test-game-client.exe";
  ASSERT_TRUE(FileExists(client)) << client;
  ASSERT_TRUE(CopyFileAt(client, folder + name));
}

// What a program of this prefix receives of a code page 936 text: the
// system's ANSI code page may lack some of its characters.
std::string AsAnsi(const std::string& cp936) {
  const std::u16string wide = Cp936ToUtf16(cp936);
  const int size = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(wide.c_str()),
                                       static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(wide.c_str()), static_cast<int>(wide.size()),
                      text.data(), size, nullptr, nullptr);
  return text;
}

std::string ClientCommandLine(const std::string& folder) {
  const std::string report = ReadWholeFile(folder + "game-client.txt");
  const size_t end = report.find('\n');
  return report.substr(0, end).substr(std::string("commandline=").size());
}

const std::string TelecomName = "\xB5\xE7\xD0\xC5\xB6\xFE\xC7\xF8";  // "电信二区"
const std::string NetcomName = "\xCD\xF8\xCD\xA8\xC8\xFD\xC7\xF8";   // "网通三区"

}  // namespace

// The list arrives from the directory service with "lastserver" chosen; the
// group pop-up commits with Enter; the start button starts Client.bin with
// the exact command line, writes "lastserver", and the watch removes the
// client once it has ended.
TEST(WireLaunch, ListArrivesPickerChoosesAndStartRunsTheClient) {
  TConfigScope config;
  TTempFolder folder;
  InstallGameClient(folder.Path(), "Client.bin");
  WriteLastServer(folder.Path(), 3);
  TTestMain form(Places(folder.Path(), static_cast<uint16_t>(TestPortBase() + 20)));
  form.EndsApplication = false;
  WaitForDirectorySocket(form);
  // The first RunTimer tick (the deferred set-up) is over before the player acts.
  ASSERT_TRUE(PumpUntil(3000, [&] { return form.Initialized; }));
  ASSERT_NE(form.DirectoryExchange(), nullptr);
  EXPECT_EQ(form.CurrentServer().id, 0);
  // Both update runs (against an address that does not answer) end first:
  // the end of the client run applies the progress look, which disables the
  // start button again; only the ready state keeps it enabled.
  ASSERT_TRUE(PumpUntil(60000, [&] { return form.UpdatePhase() == 1 && !form.UpdateRunning(); }));

  form.LGLabel1Click();
  ASSERT_TRUE(PumpUntil(8000, [&] { return form.DirectoryExchange()->ServerNames().size() == 3; }));
  EXPECT_TRUE(form.LGLabel1.Visible);
  EXPECT_FALSE(form.DirectoryExchange()->RequestPending());
  EXPECT_EQ(form.CurrentServer().id, 3);
  EXPECT_EQ(Utf16ToCp936(form.lbLstSelSrv.WideText()), NetcomName);
  EXPECT_EQ(Utf16ToCp936(form.lbCurSelSrv.WideText()), NetcomName);
  EXPECT_TRUE(form.LGStart.Enabled);

  // The group list holds the three groups; a mouse button on the first one
  // makes its server the current one.
  form.btnSelMemClick();
  ASSERT_NE(form.ServerPopup(), nullptr);
  ASSERT_TRUE(PumpUntil(2000, [&] { return form.ServerPopup()->Visible(); }));
  SendMessageA(form.ServerPopup()->ListHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 10));
  SendMessageA(form.ServerPopup()->ListHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 10));
  ASSERT_TRUE(PumpUntil(2000, [&] { return form.CurrentServer().id == 1; }));

  // The second one, chosen with Enter, makes its server the current one.
  form.btnSelMemClick();
  ASSERT_NE(form.ServerPopup(), nullptr);
  ASSERT_TRUE(PumpUntil(2000, [&] { return form.ServerPopup()->Visible(); }));
  EXPECT_EQ(form.ServerPopup()->Popup().Items().size(), 3u);
  // The pointer over the second item highlights it; Enter commits it.
  SendMessageA(form.ServerPopup()->ListHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, PopupItemHeight + 10));
  SendMessageA(form.ServerPopup()->ListHandle(), WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_TRUE(PumpUntil(2000, [&] { return form.CurrentServer().id == 2; }));
  EXPECT_FALSE(form.ServerPopup()->Visible());
  EXPECT_EQ(Utf16ToCp936(form.lbCurSelSrv.WideText()), TelecomName);
  EXPECT_EQ(Utf16ToCp936(form.lbMember.WideText()), "\xB5\xE7\xD0\xC5");  // "电信"

  // The server list of that group opens below lbCurSelSrv with its one server.
  form.btnSelServerClick();
  ASSERT_TRUE(PumpUntil(2000, [&] { return form.ServerPopup()->Visible(); }));
  ASSERT_EQ(form.ServerPopup()->Popup().Items().size(), 1u);
  RECT popup{};
  GetWindowRect(form.ServerPopup()->Handle(), &popup);
  POINT below{form.lbCurSelSrv.Left, form.lbCurSelSrv.Top + form.lbCurSelSrv.Height};
  ClientToScreen(form.Handle(), &below);
  EXPECT_EQ(popup.left, below.x);
  EXPECT_EQ(popup.top, below.y);
  EXPECT_EQ(popup.bottom - popup.top, 34);
  form.ServerPopup()->Cancel();
  EXPECT_EQ(form.CurrentServer().id, 2);

  WriteWholeFile(folder / "game-client.hold", "");
  form.LGStartClick();
  ASSERT_TRUE(PumpUntil(15000, [&] { return FileExists(folder / "game-client.txt"); }));
  ASSERT_TRUE(PumpUntil(3000, [&] { return ClientCommandLine(folder.Path()).size() > 0; }));
  const std::string expected = folder.Path() + "Client.bin /id:2 /ip:127.0.0.1 /slb:1 /port:7002 /servername:" +
                               TelecomName + " /lauName:" + ExtractFileName(GetModuleFilePath()) +
                               " /web:http://reg.test/r?a=1 /at:0 /cdn:http://cdn.test/patch/ /forget:";
  EXPECT_EQ(ClientCommandLine(folder.Path()), AsAnsi(expected));
  EXPECT_EQ(ReadLastServer(folder.Path()), 2);
  EXPECT_TRUE(form.boxes.empty());
  ASSERT_NE(form.GameList(), nullptr);
  EXPECT_EQ(form.GameList()->Entries().size(), 1u);
  EXPECT_TRUE(form.RunTimer.Enabled());
  EXPECT_TRUE(IsWindow(form.Handle()));

  // The watch keeps a running client and removes it once it has ended.
  form.RunTimerTimer();
  EXPECT_EQ(form.GameList()->Entries().size(), 1u);
  DeleteFileAt(folder / "game-client.hold");
  ASSERT_TRUE(PumpUntil(10000, [&] {
    form.RunTimerTimer();
    return form.GameList()->Empty();
  }));
  EXPECT_FALSE(form.RunTimer.Enabled());
  EXPECT_TRUE(IsWindow(form.Handle()));
}

// With _AutoClose "1" the window closes after the start, and "lastserver"
// has been written; a failed start shows the "#102" box and keeps it open.
TEST(WireLaunch, AutoCloseAndFailedStart) {
  TConfigScope config;
  LauncherConfig._AutoClose = "1";
  TTempFolder folder;
  WriteLastServer(folder.Path(), 2);
  {
    // Client.bin that is no program: the process cannot be created.
    WriteWholeFile(folder / "Client.bin", "not a program");
    TTestMain form(Places(folder.Path(), static_cast<uint16_t>(TestPortBase() + 20)));
    form.EndsApplication = false;
    WaitForDirectorySocket(form);
    form.RefreshServerList();
    ASSERT_TRUE(PumpUntil(8000, [&] { return form.CurrentServer().id == 2; }));
    form.LGStartClick();
    ASSERT_EQ(form.boxes.size(), 1u);
    EXPECT_EQ(form.boxes[0].text, GameStartFailedText);
    EXPECT_EQ(form.boxes[0].caption, GameStartFailedCaption);
    EXPECT_EQ(form.boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    PumpUntil(300, [] { return false; });
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_TRUE(form.GameList()->Empty());
  }
  WriteLastServer(folder.Path(), 3);
  ASSERT_TRUE(DeleteFileAt(folder / "Client.bin"));
  InstallGameClient(folder.Path(), "Client.bin");
  TTestMain form(Places(folder.Path(), static_cast<uint16_t>(TestPortBase() + 20)));
  form.EndsApplication = false;
  WaitForDirectorySocket(form);
  form.RefreshServerList();
  ASSERT_TRUE(PumpUntil(8000, [&] { return form.CurrentServer().id == 3; }));
  WriteLastServer(folder.Path(), 0);
  form.LGStartClick();
  EXPECT_EQ(ReadLastServer(folder.Path()), 3);
  EXPECT_TRUE(PumpUntil(3000, [&] { return !IsWindow(form.Handle()); }));
  EXPECT_TRUE(form.boxes.empty());
  PumpUntil(10000, [&] { return FileExists(folder / "game-client.txt"); });
}

namespace {

// What the timer saw of the message boxes while the start button's box was up.
struct TBoxWatch {
  TfrmMain* form = nullptr;
  int ticks = 0;
  int boxesAfterSecondClick = -1;
  HWND owner = nullptr;
  bool windowDisabled = false;
  bool done = false;
};
TBoxWatch* BoxWatch = nullptr;

BOOL CALLBACK CollectDialog(HWND window, LPARAM found) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof(name));
  if (std::string(name) == "#32770" && IsWindowVisible(window))
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// The visible dialog boxes (message boxes) of this thread.
std::vector<HWND> ThreadDialogs() {
  std::vector<HWND> dialogs;
  EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
  return dialogs;
}

// Runs inside the box's own message loop: looks at the box, clicks the
// start button once more, then closes every box.
void CALLBACK WatchBoxes(HWND, UINT, UINT_PTR, DWORD) {
  TBoxWatch& watch = *BoxWatch;
  if (watch.done) return;
  std::vector<HWND> dialogs = ThreadDialogs();
  if (dialogs.empty() && ++watch.ticks < 100) return;
  watch.done = true;
  if (!dialogs.empty()) {
    watch.owner = GetWindow(dialogs[0], GW_OWNER);
    watch.windowDisabled = !IsWindowEnabled(watch.form->Handle());
    watch.form->LGStartClick();
    dialogs = ThreadDialogs();
    watch.boxesAfterSecondClick = static_cast<int>(dialogs.size());
  }
  for (HWND dialog : dialogs) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

}  // namespace

// The "#102" box of a failed start is owned by the window, which it
// disables meanwhile; a second start request while it is up shows no second box.
TEST(WireLaunch, FailedStartBoxIsOwnedByTheWindowAndNeverStacks) {
  TConfigScope config;
  TTempFolder folder;
  WriteLastServer(folder.Path(), 2);
  WriteWholeFile(folder / "Client.bin", "not a program");
  TfrmMain form(Places(folder.Path(), static_cast<uint16_t>(TestPortBase() + 20)));
  form.EndsApplication = false;
  WaitForDirectorySocket(form);
  form.RefreshServerList();
  ASSERT_TRUE(PumpUntil(8000, [&] { return form.CurrentServer().id == 2; }));
  form.Show();
  ASSERT_TRUE(PumpUntil(3000, [&] { return IsWindowVisible(form.Handle()) != FALSE; }));

  TBoxWatch watch;
  watch.form = &form;
  BoxWatch = &watch;
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, WatchBoxes);
  ASSERT_NE(timer, 0u);
  TLogCapture log;
  form.LGStartClick();  // returns once the timer has closed the box
  KillTimer(nullptr, timer);
  BoxWatch = nullptr;
  ASSERT_TRUE(watch.done);
  EXPECT_EQ(watch.owner, form.Handle());
  EXPECT_TRUE(watch.windowDisabled);
  EXPECT_EQ(watch.boxesAfterSecondClick, 1);
  EXPECT_EQ(log.CountContaining("message box not stacked on the open one"), 1);
  EXPECT_TRUE(IsWindowEnabled(form.Handle()));
  EXPECT_TRUE(ThreadDialogs().empty());
}

// The move into the game folder that the first uninstall key names fails
// (a folder stands where the copy goes): the window tells the player with
// an error box and runs the update where it is.
TEST(WireLaunch, AFailedInstallCopyRunsHereAfterAnErrorBox) {
  TConfigScope config;
  TTempFolder root;
  const std::string downloads = root / "downloads\\";
  const std::string game = root / "game\\";
  ASSERT_TRUE(ForceDirectories(downloads));
  ASSERT_TRUE(ForceDirectories(game + "data"));
  ASSERT_TRUE(ForceDirectories(game + "launcher.exe\\x"));
  WriteWholeFile(game + "Korblib.dll", "x");
  WriteWholeFile(game + "d3dx9_43.dll", "x");
  WriteWholeFile(downloads + "launcher.exe", "MZ");
  TRegistryKey key;
  ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, UninstallKey1, true));
  ASSERT_TRUE(key.WriteString(UninstallValue, game + "uninst.exe"));
  TMainWindowPlaces places = Places(downloads, static_cast<uint16_t>(TestPortBase() + 20));
  places.runInstallCheck = true;
  places.programPath = downloads + "launcher.exe";
  places.killOnInstallCancel = false;
  TTestMain form(places);
  form.EndsApplication = false;
  const bool ticked = PumpUntil(5000, [&] { return form.Initialized; });
  key.WriteString(UninstallValue, "");
  ASSERT_TRUE(ticked);
  ASSERT_EQ(form.boxes.size(), 1u);
  EXPECT_EQ(form.boxes[0].text, InstallFailedText);
  EXPECT_EQ(form.boxes[0].caption, InstallFailedCaption);
  EXPECT_EQ(form.boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_TRUE(form.UpdateRunning());
  EXPECT_TRUE(IsWindow(form.Handle()));
}

// A service that answers once, then sends garbage and then nothing: the
// list stays, the refresh link comes back after the time-out; a server
// without an address or without its client starts nothing and shows nothing.
TEST(WireLaunch, BadServiceKeepsTheListAndBadRecordsStartNothing) {
  TConfigScope config;
  TTempFolder folder;
  InstallGameClient(folder.Path(), "Client.bin");
  WriteLastServer(folder.Path(), 5);
  TUdpPeer service;
  ASSERT_TRUE(service.Bound());
  TTestMain form(Places(folder.Path(), service.Port()));
  form.EndsApplication = false;
  WaitForDirectorySocket(form);

  const DWORD firstRequest = GetTickCount();
  form.RefreshServerList();
  EXPECT_FALSE(form.LGLabel1.Visible);
  std::vector<uint8_t> request;
  TSocketAddress from{};
  ASSERT_TRUE(PumpUntil(3000, [&] { return !(request = service.Receive(1, &from)).empty(); }));
  EXPECT_EQ(request, BuildServerListRequest(12, GetServerList));
  const std::string document =
      "{\"server\":[{\"id\":5,\"name\":\"a\",\"ip\":\"\",\"port\":1,\"member\":\"m\"},"
      "{\"id\":6,\"name\":\"b\",\"ip\":\"127.0.0.1\",\"port\":2,\"member\":\"m\",\"clienttype\":1}]}";
  // Garbage before the frame is skipped.
  std::vector<uint8_t> reply{0x01, 0x02, 0xAA};
  const std::vector<uint8_t> frame = BuildDirectoryFrame(ServerListReply, 0, document);
  reply.insert(reply.end(), frame.begin(), frame.end());
  ASSERT_TRUE(service.SendTo(reply, from.Port));
  ASSERT_TRUE(PumpUntil(3000, [&] { return form.DirectoryExchange()->ServerNames().size() == 2; }));
  EXPECT_EQ(form.CurrentServer().id, 5);
  EXPECT_TRUE(form.LGLabel1.Visible);

  // Garbage after the frame: the list stays as it was.
  ASSERT_TRUE(service.SendTo({0x55, 0xAA, 0x13, 0x37, 0xFF}, from.Port));
  PumpUntil(300, [] { return false; });
  EXPECT_EQ(form.DirectoryExchange()->ServerNames().size(), 2u);
  EXPECT_EQ(form.CurrentServer().id, 5);

  // No address: nothing is started, no box, the window stays usable.
  form.LGStartClick();
  PumpUntil(500, [] { return false; });
  EXPECT_FALSE(FileExists(folder / "game-client.txt"));
  EXPECT_TRUE(form.GameList()->Empty());
  EXPECT_TRUE(form.boxes.empty());
  EXPECT_EQ(ReadLastServer(folder.Path()), 5);
  // clienttype 1 and no Client2.bin: nothing either.
  form.lbLstSelSrv.SetWideText(u"B");
  form.lbLstSelSrvClick();
  EXPECT_EQ(form.CurrentServer().id, 6);
  form.LGStartClick();
  PumpUntil(500, [] { return false; });
  EXPECT_FALSE(FileExists(folder / "game-client.txt"));
  EXPECT_TRUE(form.boxes.empty());

  // The next refresh is taken once 5 s have passed; no answer comes.
  ASSERT_TRUE(PumpUntil(8000, [&] { return GetTickCount() - firstRequest > 5200; }));
  form.LGLabel1Click();
  EXPECT_FALSE(form.LGLabel1.Visible);
  EXPECT_TRUE(form.DirectoryExchange()->RequestPending());
  EXPECT_TRUE(PumpUntil(9000, [&] { return form.LGLabel1.Visible; }));
  EXPECT_FALSE(form.DirectoryExchange()->RequestPending());
  EXPECT_EQ(form.DirectoryExchange()->ServerNames().size(), 2u);
  EXPECT_EQ(form.CurrentServer().id, 6);
}

// The window's release order: the echo worker has stopped before the server
// configuration goes, and the directory socket closes last.
TEST(WireLaunch, CreationMakesTheServicesAndDestructionReleasesThem) {
  TConfigScope config;
  TTempFolder folder;
  TTestMain form(Places(folder.Path(), static_cast<uint16_t>(TestPortBase() + 20)));
  form.EndsApplication = false;
  ASSERT_NE(form.DirectorySocket(), nullptr);
  ASSERT_NE(form.EchoService(), nullptr);
  ASSERT_NE(form.ServerConfig(), nullptr);
  ASSERT_NE(form.ServerPopup(), nullptr);
  EXPECT_FALSE(form.ServerPopup()->Visible());
  EXPECT_EQ(form.DirectorySocket()->RemotePort(), TestPortBase() + 20);
  EXPECT_EQ(form.DirectorySocket()->RemoteHost(), "127.0.0.1");
  // The news browser waits hidden for its page or the login look.
  ASSERT_NE(form.NewsBrowser(), nullptr);
  EXPECT_FALSE(form.NewsBrowser()->Visible());
  form.lbIngUpdateClick();
  EXPECT_TRUE(form.NewsBrowser()->Visible());
  // The echo service binds a port of the system's choice.
  ASSERT_TRUE(PumpUntil(3000, [&] { return form.EchoService()->IsOpen(); }));
  EXPECT_NE(form.EchoService()->Port(), 0);
  DestroyWindow(form.Handle());
  EXPECT_EQ(form.DirectorySocket(), nullptr);
  EXPECT_EQ(form.EchoService(), nullptr);
  EXPECT_EQ(form.ServerConfig(), nullptr);
  EXPECT_EQ(form.GameList(), nullptr);
}
