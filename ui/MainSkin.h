// The main window's HWND and skin: a borderless window whose whole client
// area is one picture composed from the background image and the skin
// controls, its timers, its window procedure, the binding of the skin images
// and positions of the appended package, the three looks and the progress
// display. The launcher's lifecycle (TfrmMain) derives from this class and
// overrides the virtual hooks; every hook has a harmless default here.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "package/PackageReader.h"
#include "platform/win32/Window.h"
#include "skin/GdiplusObjects.h"
#include "skin/LGButton.h"
#include "skin/LGLabel.h"
#include "skin/LGPicture.h"
#include "skin/LGProgress2.h"
#include "skin/SkinRoot.h"
#include "skin/logic/SkinGeometry.h"
#include "ui/logic/ImagePlan.h"
#include "ui/logic/MainLooks.h"

// Window class of the main window; a second launcher finds the running one by it.
constexpr const char* MainWindowClassName = "Client Launcher";
// Window title and the caption of the standard error box.
constexpr const char* ApplicationTitle = "Quellan";

// The window handle of the main window, created first so that the controls
// can be built with their parent. Owns the HWND (destroyed with it).
class TSkinWindow {
public:
  // Registers the class once per process and creates the hidden window,
  // centred on the screen at the form's client size. Throws
  // std::runtime_error when the window cannot be created.
  TSkinWindow(HINSTANCE instance, int clientWidth, int clientHeight);
  HWND Handle() const { return FHandle.Get(); }
  // Forgets the handle once the system has destroyed the window.
  void Detach() { FHandle.Release(); }

private:
  // Detaches the window object before destroying the window.
  TWindowHandle FHandle;
};

// A window timer with an interval and an enabled state; it may be switched
// before the window exists and is kept in step with SetTimer/KillTimer.
class TWindowTimer {
public:
  TWindowTimer(UINT_PTR id, UINT interval, bool enabled) : FId(id), FInterval(interval), FEnabled(enabled) {}
  void Attach(HWND window);  // starts the timer when enabled
  void SetEnabled(bool enabled);
  bool Enabled() const { return FEnabled; }
  UINT Interval() const { return FInterval; }
  UINT_PTR Id() const { return FId; }

private:
  HWND FWindow = nullptr;
  UINT_PTR FId;
  UINT FInterval;
  bool FEnabled;
};

// Timer identifiers (WM_TIMER wParam).
enum : UINT_PTR { RunTimerId = 1, UpdateTimerId = 2, PaintTimerId = 3, Timer1Id = 4 };

class TfrmMainSkin {
public:
  // Creates the window (hidden; call Show) and the 21 controls with their
  // form defaults. No package is read here: the positions and images come
  // from ResetComponentOffsetFrom and LoadImageresourceFrom.
  explicit TfrmMainSkin(HINSTANCE instance = GetModuleHandleA(nullptr));
  virtual ~TfrmMainSkin();
  TfrmMainSkin(const TfrmMainSkin&) = delete;
  TfrmMainSkin& operator=(const TfrmMainSkin&) = delete;

  HWND Handle() const { return FWindow.Handle(); }
  void Show(int showCommand = SW_SHOWNORMAL);
  // The client size the window composes (kept while minimised).
  int ClientWidth() const { return FClientWidth; }
  int ClientHeight() const { return FClientHeight; }
  // Resizes the client area, keeping the window's top-left corner.
  void SetClientSize(int width, int height);
  bool Minimized() const;
  // The control of that component name, or nullptr.
  TLGControl* ControlByName(const std::string& name);

  // Composition: composes the picture and draws it on the window DC;
  // nothing when hidden or minimised; the failure path when the bitmap or
  // its graphics cannot be made (timers off, warning box, quit).
  void PaintChilds();
  // The composed picture of the whole client area as a 32bpp ARGB bitmap,
  // or nullptr when it cannot be made. PaintChilds draws this; tests read it.
  TGpBitmapPtr ComposeBitmap();
  // Composes into a caller's graphics (background, then every control).
  void ComposeInto(GpGraphics* graphics);

  // Positions and images of a program file's package, with its verified
  // block locations.
  void ResetComponentOffsetFrom(const std::string& exePath, const TPackageLocations& locations);
  void LoadImageresourceFrom(const std::string& exePath, const TPackageLocations& locations);
  // Frees the background image (the window's destruction does it too).
  void ReleaseBackground();
  bool HasBackground() const { return FBackground != nullptr; }

  // The three looks, the skip link, and the status line shown over a look
  // that hides it.
  void ApplyUpdatingLook();
  void ApplyProgressLook();
  void ApplyLoginLook();
  void ShowSkipLink();
  void ShowStatusLine();

  // Progress display, every 500 ms while UpdateTimer runs: the status line
  // and both bars from the fields below; nothing when hidden or minimised.
  void UpdateTimerTimer();

  // Event handlers of the skin.
  void FormMouseDown(TMouseButton button, int x, int y);
  void LGminClick();
  void LGCloseClick();
  void LGBtn1Click(TLGControl& sender);
  void lbIngUpdateClick();  // UpdateSkipped, login look, then RefreshServerList

  // Shows the standard error box (the error's text, the application title).
  void ShowException(const std::string& text);

  // Hooks of the lifecycle and the server picker (empty defaults).
  // First look at every message of the window: return true when handled
  // (result then goes back to the system), false to let the skin handle it.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void RunTimerTimer() {}
  virtual void Timer1Timer() {}
  // WM_CLOSE asks this first; false keeps the window open.
  virtual bool FormCloseQuery() { return true; }
  // The window has been hidden (WM_SHOWWINDOW with FALSE).
  virtual void FormHide() {}
  // WM_DESTROY, while the window handle still exists.
  virtual void FormDestroy() {}
  virtual void RefreshServerList() {}
  virtual void LGStartClick() {}
  virtual void btnSelServerClick() {}
  virtual void btnSelMemClick() {}
  virtual void lbLstSelSrvClick() {}
  virtual void LGLabel1Click() {}
  // The player took the skip link (before its login look).
  virtual void UpdateSkipped() {}

protected:
  // Every message box of the window goes through here (tests record them).
  virtual void ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);
  // Starts moving the window with the mouse (a modal loop of the system).
  virtual void BeginWindowDrag();

private:
  // GDI+ and the window first: the controls are built with its handle.
  TGdiplusSession FGdiplus;
  TSkinWindow FWindow;

public:
  // The controls in component order (also the composition order).
  TLGPicture picLogin;
  TLGButton LGStart;
  TLGButton LGClose;
  TLGButton LGBtn1;
  TLGButton LGBtn2;
  TLGButton LGBtn3;
  TLGButton LGBtn4;
  TLGButton LGmin;
  TLGButton LGBtn5;
  TLGButton LGBtn6;
  TLGLabel lbLstSelSrv;
  TLGLabel lbMember;
  TLGLabel lbIngUpdate;
  TLGPicture picSlogan;
  TLGProgress2 LGCurrent;
  TLGProgress2 LGPTotal;
  TLGLabel LBStatus;
  TLGLabel lbCurSelSrv;
  TLGButton btnSelServer;
  TLGButton btnSelMem;
  TLGLabel LGLabel1;
  TSkinRoot SkinRoot;

  TWindowTimer RunTimer{RunTimerId, 100, false};
  TWindowTimer UpdateTimer{UpdateTimerId, 500, false};
  TWindowTimer PaintTimer{PaintTimerId, 10, false};
  TWindowTimer Timer1{Timer1Id, 1000, true};

  // The package settings the link buttons open (web, forum, payment and
  // registration pages); the launcher gives its package's.
  TLauncherConfig LinkSettings;

  // Set while the window is hidden (the lifecycle keeps it).
  bool Hidden = false;
  // Closing the window or a failed composition ends the message loop
  // (PostQuitMessage); tests that make several windows turn it off.
  bool EndsApplication = true;

  // Progress display, code page 936 texts.
  std::string StatusText;
  std::string SpeedText;
  int32_t TotalPos = 0, TotalMax = 0, CurPos = 0, CurMax = 0;

  // Server picker images (active row, normal row, new-server mark).
  TGpBitmapPtr ServerBkActive, ServerBkNormal, ServerNew;
  // The news browser's rectangle and visibility (the web panel places its
  // child window there).
  TRectI NewsBrowserRect;
  bool NewsBrowserVisible = false;

protected:
  // The skin's own handling of a message after HandleMessage declined it.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
  friend LRESULT CALLBACK MainSkinWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  std::array<TLGControl*, 21> ComponentOrder();
  void SetupControls();
  void BindEvents();
  void ApplyLookSteps(TLook look);
  void BindImage(const TImageStep& step, TGpBitmapPtr bitmap);
  // Invalidates the client area: its paint enables PaintTimer.
  void RequestComposition();
  void OnTimer(UINT_PTR id);
  void OnMouse(UINT message, WPARAM wParam, LPARAM lParam);
  void PaintFailure();

  int FClientWidth;
  int FClientHeight;
  TGpBitmapPtr FBackground;
  bool FTrackingLeave = false;
  bool FCompositionFailed = false;
  bool FMessageBoxOpen = false;  // ShowMessageBox's box is up
};
