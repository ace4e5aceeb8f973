// The main window's message handling: every message goes to the lifecycle's
// hook first, then to the skin; nothing a handler throws leaves the
// procedure.
#include <windows.h>
#include <windowsx.h>

#include <exception>

#include "common/WindowMessages.h"
#include "platform/DebugOutput.h"
#include "ui/MainSkin.h"

namespace {

TMouseButton ButtonOf(UINT message) {
  switch (message) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: return mbRight;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: return mbMiddle;
    default: return mbLeft;
  }
}

}  // namespace

LRESULT TfrmMainSkin::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    LRESULT result = 0;
    if (HandleMessage(message, wParam, lParam, result)) return result;
    return WindowProc(message, wParam, lParam);
  } catch (const std::exception& error) {
    ShowException(error.what());
  } catch (...) {
    ShowException("Unknown error");
  }
  // The message counts as handled; the window goes on.
  return 0;
}

bool TfrmMainSkin::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TfrmMainSkin::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = Handle();
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the composition covers the whole client area
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      // Paints are coalesced: the next PaintTimer tick composes once.
      PaintTimer.SetEnabled(true);
      return 0;
    }
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSELEAVE:
      OnMouse(message, wParam, lParam);
      return 0;
    case WM_CAPTURECHANGED:
      SkinRoot.CaptureLost();
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        POINT point;
        GetCursorPos(&point);
        ScreenToClient(window, &point);
        SetCursor(LoadCursor(nullptr, SkinRoot.WantsHandCursor(point.x, point.y) ? IDC_HAND : IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_SHOWWINDOW:
      if (!wParam && lParam == 0) FormHide();
      break;
    case WM_CLOSE:
      if (FormCloseQuery()) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      FormDestroy();
      if (EndsApplication) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      FWindow.Detach();
      return DefWindowProcA(window, message, wParam, lParam);
    default:
      if (message == LGM_REDRAW) {
        SkinRoot.RedrawTaken();
        PaintChilds();
        return 0;
      }
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void TfrmMainSkin::OnTimer(UINT_PTR id) {
  // A tick already queued when its timer was switched off is dropped.
  switch (id) {
    case RunTimerId:
      if (RunTimer.Enabled()) RunTimerTimer();
      break;
    case UpdateTimerId:
      if (UpdateTimer.Enabled()) UpdateTimerTimer();
      break;
    case PaintTimerId:
      if (PaintTimer.Enabled()) {
        PaintChilds();
        PaintTimer.SetEnabled(false);
      }
      break;
    case Timer1Id:
      if (Timer1.Enabled()) Timer1Timer();
      break;
    default: break;
  }
}

void TfrmMainSkin::OnMouse(UINT message, WPARAM, LPARAM lParam) {
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  switch (message) {
    case WM_MOUSEMOVE:
      if (!FTrackingLeave) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, Handle(), 0};
        FTrackingLeave = TrackMouseEvent(&track) != FALSE;
      }
      SkinRoot.MouseMove(x, y);
      break;
    case WM_MOUSELEAVE:
      FTrackingLeave = false;
      SkinRoot.MouseLeaveWindow();
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // A press on the background or on a disabled control belongs to the window.
      if (!SkinRoot.MouseDown(ButtonOf(message), x, y)) FormMouseDown(ButtonOf(message), x, y);
      break;
    default:
      SkinRoot.MouseUp(ButtonOf(message), x, y);
      break;
  }
}

void TfrmMainSkin::ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

void TfrmMainSkin::ShowException(const std::string& text) {
  DebugOutput("exception in the main window: " + text);
  ShowMessageBox(text, ApplicationTitle, MB_OK | MB_ICONSTOP);
}
