// TfrmServerList: the borderless pop-up list of the server picker. It shows
// one TServerPopup (servers of the current group, or the groups) below a
// label of the main window, draws its 32-pixel items itself with the main
// window's picker images, follows the pointer and reports how it closed.
// The object is made once, with the main window as owner; each showing
// creates the pop-up window anew and its close destroys it, so a showing
// starts from its own items and no highlighted item of an earlier one.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>

#include "platform/win32/Window.h"
#include "servers/ServerSelection.h"
#include "skin/GdiplusObjects.h"

// The picker images of the main window (TfrmMainSkin::ServerBkActive,
// ServerBkNormal, ServerNew). Borrowed: the main window owns them and
// outlives its pop-up. A missing image is nullptr (nothing drawn for it).
struct TServerListImages {
  GpBitmap* active = nullptr;
  GpBitmap* normal = nullptr;
  GpBitmap* newMark = nullptr;
};

// Window class of the pop-up.
constexpr const char* ServerListClassName = "TfrmServerList";
// Timer1 of the pop-up: the foreground check.
constexpr UINT ServerListTimerInterval = 10;

class TfrmServerList {
public:
  // How a showing ended: the index of the committed item (mouse button in
  // the list, Enter, Escape with an item highlighted), or nothing (commit
  // with no item highlighted, focus loss, the foreground check). Called
  // after the pop-up window is gone; the handler may show it again.
  using TCloseHandler = std::function<void(std::optional<int> committed)>;

  // Registers the window class (std::runtime_error when that fails); the
  // pop-ups it shows are owned by `owner`.
  TfrmServerList(HWND owner, TServerListImages images, TCloseHandler onClose,
                 HINSTANCE instance = GetModuleHandleA(nullptr));
  ~TfrmServerList();
  TfrmServerList(const TfrmServerList&) = delete;
  TfrmServerList& operator=(const TfrmServerList&) = delete;

  // Shows `popup` with its top-left corner at the screen point `at`, its
  // height PopupHeight(items), `current` highlighted (-1: none), the
  // foreground check running. A showing still open is closed first without
  // commit. False (logged, nothing shown) when the window cannot be made.
  bool Show(TServerPopup popup, POINT at, int current = -1);
  // Closes without commit (reported to the handler) when shown.
  void Cancel();

  bool Visible() const;
  // The items of the current or last showing; in the close handler,
  // Popup().Commit(...) applies the committed item.
  const TServerPopup& Popup() const { return FPopup; }
  // The pop-up and its list box while shown, else nullptr.
  HWND Handle() const { return FWindow.Get(); }
  HWND ListHandle() const { return FList; }

  // One item as the list draws it, `width` x 32 pixels: its background, the
  // new-server mark, the shadowed text. nullptr when the bitmap or its
  // graphics cannot be made.
  TGpBitmapPtr DrawItem(int index, bool highlighted, int width) const;

private:
  friend LRESULT CALLBACK ServerListWindowProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK ServerListListProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT ListProc(UINT message, WPARAM wParam, LPARAM lParam);
  bool CreateWindows();
  void DestroyWindows();
  void Close(bool commit);
  void PaintFrame();
  void DrawListItem(const DRAWITEMSTRUCT& item);

  HWND FOwner;
  HINSTANCE FInstance;
  TServerListImages FImages;
  TCloseHandler FOnClose;
  TServerPopup FPopup{TPopupMode::Servers, {}};
  TWindowHandle FWindow;
  HWND FList = nullptr;
  WNDPROC FListDefault = nullptr;
  HFONT FFont = nullptr;
  bool FShown = false;
};
