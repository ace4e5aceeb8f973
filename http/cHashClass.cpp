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

uint64_t NamesBucketHashOf(const std::string& key) {
  // FNV-1a over the folded bytes, then a final mix so that "% buckets"
  // sees the high bits too.
  uint64_t h = 0xcbf29ce484222325ull;
  bool trail = false;
  for (const char c : key) {
    h = (h ^ FoldByte(static_cast<unsigned char>(c), trail)) * 0x100000001b3ull;
    trail = !trail && IsCp936LeadByte(static_cast<unsigned char>(c));
  }
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ull;
  return h ^ (h >> 32);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  bool trail = false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (FoldByte(x, trail) != FoldByte(y, trail)) return false;
    trail = !trail && IsCp936LeadByte(x);
  }
  return true;
}
