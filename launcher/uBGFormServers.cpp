// TfrmMain's side of the server directory: the directory socket, the echo
// service and TServerConfig in the creation step and in their release order,
// the hand-over of received datagrams to the window's thread, the refresh
// and its time-out, and the server picker's labels and pop-up.
#include "launcher/uBGForm.h"
#include "launcher/uBGFormServerView.h"

#include "net/cUdpSocket.h"
#include "net/uDnsLookup.h"
#include "net/uUDPEcho.h"
#include "platform/CodePage.h"
#include "ui/ServerList.h"

namespace {

const TServerInfo NoServer;

}  // namespace

// --- creation and release ----------------------------------------------------

// The socket opens before the package is read, so its datagrams go to the
// window's queue; the exchange that reads them comes with TServerConfig.
void TfrmMain::CreateDirectorySocket() {
  const HWND window = Handle();
  FDatagrams = std::make_unique<TDatagramQueue>([this, window] {
    if (!FWakePosted.exchange(true)) PostMessageA(window, UM_DIRECTORY_DATA, 0, 0);
  });
  FServerView = std::make_unique<TServerView>(*this);
  FSelection = std::make_unique<TServerSelection>(*FServerView);
  std::vector<std::string> resolved = FPlaces.directoryAddresses;
  // A blocking call of the system resolver, once, at window creation.
  if (FPlaces.resolveDirectoryHost) ResolveHostAddresses(DirectoryHostName(), resolved);
  FDirectorySocket = std::make_unique<TUDPClientSocket>();
  SetupDirectorySocket(*FDirectorySocket, resolved, FPlaces.directoryFixedAddress, *FDatagrams, FPlaces.directoryPort);
}

// The system picks the echo service's port.
void TfrmMain::CreateEchoService() { FEcho = std::make_unique<TUDPEchoServer>(0); }

// TServerConfig takes the echo service's round-trip times; the exchange
// (and with it ServerNames) reads the game id, "lastserver" and the record
// filter of this launcher's folder.
void TfrmMain::CreateServerConfig() {
  FServerConfig = std::make_unique<TServerConfig>(FLauncherFolder, FEcho.get());
  FExchange = std::make_unique<TDirectoryExchange>(*FServerConfig, *FServerView, FTicks, *FDatagrams,
                                                   FDirectorySocket.get(), LauncherDirectoryInputs(FLauncherFolder, LauncherConfig));
}

// The pop-up is made again when it is shown with other picker images (they
// are bound on the first RunTimer tick, after this step).
void TfrmMain::CreateServerPopup() {
  const TServerListImages images{ServerBkActive.get(), ServerBkNormal.get(), ServerNew.get()};
  FServerPopup = std::make_unique<TfrmServerList>(Handle(), images,
                                                  [this](std::optional<int> committed) { PopupClosed(committed); });
  FPopupImages = images;
}

// The worker is stopped here; the object itself stays until TServerConfig,
// which lets go of its callback on release, is gone.
void TfrmMain::StopEchoService() {
  if (FEcho) FEcho->TerminateAndWait();
}

void TfrmMain::ReleaseServerConfig() {
  FExchange.reset();
  FServerConfig.reset();
  FEcho.reset();
}

// Closing ends the socket's worker, so nothing is queued afterwards.
void TfrmMain::CloseDirectorySocket() {
  if (FDirectorySocket) FDirectorySocket->Close();
  FDirectorySocket.reset();
  FDatagrams.reset();
}

// --- the exchange ------------------------------------------------------------

void TfrmMain::TakeDirectoryData() {
  // Cleared first: a datagram queued from here on posts a new wake-up.
  FWakePosted = false;
  if (!FDatagrams) return;
  std::vector<uint8_t> datagram;
  while (FDatagrams->Take(datagram))
    if (FExchange) FExchange->DirectoryDataArrived(datagram);
}

// Also the end of the skip link, which has just applied the login look.
void TfrmMain::RefreshServerList() {
  SyncNewsBrowser();
  if (FExchange) FExchange->RefreshServerList();
}

void TfrmMain::Timer1Timer() {
  if (FExchange) FExchange->TimerTick();
}

void TfrmMain::LGLabel1Click() { RefreshServerList(); }

// --- the picker --------------------------------------------------------------

const TServerInfo& TfrmMain::CurrentServer() const { return FSelection ? FSelection->CurrentServer() : NoServer; }

std::string TfrmMain::MemberText() const { return FSelection ? FSelection->MemberText() : std::string(); }

void TfrmMain::btnSelServerClick() { ShowPopup(TPopupMode::Servers, lbCurSelSrv); }

void TfrmMain::btnSelMemClick() { ShowPopup(TPopupMode::Members, lbMember); }

void TfrmMain::lbLstSelSrvClick() {
  if (!FSelection || !FServerConfig || !FExchange) return;
  FSelection->SelectByName(Utf16ToCp936(lbLstSelSrv.WideText()), *FServerConfig, FExchange->ServerNames());
}

// The pop-up opens directly below `below`, with copies of the records.
void TfrmMain::ShowPopup(TPopupMode mode, TLGLabel& below) {
  if (!FServerPopup || !FServerConfig || !FExchange || !FSelection) return;
  SetFocus(Handle());
  POINT at{below.Left, below.Top + below.Height};
  ClientToScreen(Handle(), &at);
  const std::vector<TServerName>& names = FExchange->ServerNames();
  std::vector<TPopupItem> items = mode == TPopupMode::Servers
                                      ? ServerItems(*FServerConfig, names, FSelection->CurrentServer().member)
                                      : MemberItems(names);
  const TServerListImages images{ServerBkActive.get(), ServerBkNormal.get(), ServerNew.get()};
  if (!FPopupImages || FPopupImages->active != images.active || FPopupImages->normal != images.normal ||
      FPopupImages->newMark != images.newMark) {
    FServerPopup.reset();
    FServerPopup = std::make_unique<TfrmServerList>(Handle(), images,
                                                    [this](std::optional<int> committed) { PopupClosed(committed); });
    FPopupImages = images;
  }
  FServerPopup->Show(TServerPopup(mode, std::move(items)), at);
}

void TfrmMain::PopupClosed(std::optional<int> committed) {
  if (!committed || !FServerPopup || !FSelection || !FServerConfig || !FExchange) return;
  TServerPopup popup = FServerPopup->Popup();
  popup.Highlight(*committed);
  popup.Commit(*FSelection, *FServerConfig, FExchange->ServerNames());
}
