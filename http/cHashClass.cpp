#include "http/cHashClass.h"

#include "platform/CodePage.h"

namespace {

// Folds one byte of a name; `trail` is true for the second byte of a
// double-byte character, which is never a letter of its own.
unsigned char FoldByte(unsigned char b, bool trail) { return !trail && b >= 'A' && b <= 'Z' ? b + 0x20 : b; }

}  // namespace

uint32_t NamesHashOf(const std::string& key) {
  uint32_t h = 0;
  bool trail = false;
  for (const char c : key) {
    const unsigned char b = FoldByte(static_cast<unsigned char>(c), trail);
    trail = !trail && IsCp936LeadByte(static_cast<unsigned char>(c));
    h = b ^ (h << 2 | h >> 30);
  }
  return h;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  bool trail = false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (FoldByte(x, trail) != FoldByte(y, trail)) return false;
    trail = !trail && IsCp936LeadByte(x);
  }
  return true;
}
