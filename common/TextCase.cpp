#include "common/TextCase.h"

#include "common/DelimitedText.h"

namespace {

char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string UpperCase(std::string text) {
  for (size_t i = 0; i < text.size();) {
    const size_t next = NextCharIndex(text, i);
    if (next - i == 1) text[i] = UpperChar(text[i]);
    i = next;
  }
  return text;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size();) {
    const size_t next = NextCharIndex(a, i);
    // A character of one byte in one text is a character of one byte in the
    // other where the bytes before agree.
    if (next - i == 1 ? UpperChar(a[i]) != UpperChar(b[i]) : a.compare(i, next - i, b, i, next - i) != 0) return false;
    i = next;
  }
  return true;
}
