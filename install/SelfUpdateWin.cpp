#include "install/SelfUpdateWin.h"

#include <windows.h>

#include "platform/CodePage.h"

TSelfUpdateOperations WindowsSelfUpdateOperations() {
  TSelfUpdateOperations operations = TSelfUpdateOperations::Platform();
  // FILE_ATTRIBUTE_NORMAL is how "no attributes" is spelt to the system.
  operations.ClearAttributes = [](const std::string& path) {
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(Cp936ToUtf16(path).c_str()), FILE_ATTRIBUTE_NORMAL);
  };
  return operations;
}
