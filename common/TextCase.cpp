#include "common/TextCase.h"

#include "common/DelimitedText.h"

std::string UpperCaseAscii(const std::string& text) {
  std::string upper = text;
  for (size_t i = 0; i < upper.size();) {
    const size_t next = NextCharIndex(upper, i);
    if (next - i == 1 && upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 32);
    i = next;
  }
  return upper;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperCaseAscii(a) == UpperCaseAscii(b);
}
