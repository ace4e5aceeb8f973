// The three looks of the main window as data: which control is shown,
// hidden, enabled or disabled, in which order. The window applies these
// steps to its controls; nothing else decides what a look shows.
#pragma once
#include <string>
#include <vector>

enum class TLook { Updating, Progress, Login };
enum class TLookAction { Show, Hide, Enable, Disable, SetText };

// The news browser is named "wb" here, as in the positions block.
constexpr const char* NewsBrowserName = "wb";

struct TLookStep {
  TLookAction Action;
  const char* Control;
  const char* Text;  // SetText only: code page 936
};

const std::vector<TLookStep>& LookSteps(TLook look);

// Whatever the steps act on: the window's controls, or a model in tests.
class TLookTarget {
public:
  virtual ~TLookTarget() = default;
  virtual void SetVisible(const std::string& control, bool visible) = 0;
  virtual void SetEnabled(const std::string& control, bool enabled) = 0;
  virtual void SetText(const std::string& control, const std::string& text) = 0;
};

// Applies the steps of `look` in order.
void ApplyLook(TLook look, TLookTarget& target);
