#include "platform/win32/Window.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

constexpr const char* FailingClassName = "TFailingForm";

// A window object whose construction fails after its window exists, the
// object attached to it; the procedure counts the messages that reach an
// attached object.
class TFailingForm {
public:
  static int Reached;

  explicit TFailingForm(HWND& made) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterWindowClass(instance, {FailingClassName, Procedure});
    FWindow.Reset(
        CreateWindowExA(0, FailingClassName, "", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr, instance, nullptr));
    made = FWindow.Get();
    FWindow.Attach(this);
    SendMessageA(made, WM_NULL, 0, 0);
    throw std::runtime_error("controls not made");
  }

private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CatchAll("failing form", LRESULT(0), [&] {
      if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0) ++Reached;
      return DefWindowProcA(window, message, wParam, lParam);
    });
  }

  TWindowHandle FWindow;
};

int TFailingForm::Reached = 0;

}  // namespace

// The constructor's throw destroys the window it made, and the destruction's
// messages never reach the object that is no more.
TEST(WindowOwner, AConstructorThatThrowsLeavesNoWindowPointingAtTheDeadObject) {
  HWND made = nullptr;
  TFailingForm::Reached = 0;
  EXPECT_THROW(TFailingForm form(made), std::runtime_error);
  ASSERT_NE(made, nullptr) << "no window: the suite needs a display";
  EXPECT_FALSE(IsWindow(made));
  EXPECT_EQ(TFailingForm::Reached, 1);  // WM_NULL only, no WM_DESTROY
}
