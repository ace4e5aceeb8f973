#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "platform/Arguments.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], n, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  return utf8;
}

struct TLocalFree {
  void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<LPWSTR, TLocalFree> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  if (!wide) {
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    return arguments;
  }
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide.get()[i]));
  return arguments;
}
