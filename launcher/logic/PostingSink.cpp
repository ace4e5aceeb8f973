#include "launcher/logic/PostingSink.h"

void TPostingSink::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!FDetached && TryPost(message, wParam, lParam)) return;
  if (message == UM_STATUS_TEXT) TakePostedText(wParam);
}
