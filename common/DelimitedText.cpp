#include "common/DelimitedText.h"

#include "platform/CodePage.h"

size_t NextCharIndex(const std::string& text, size_t index) {
  if (index + 1 < text.size() && IsCp936LeadByte(static_cast<unsigned char>(text[index]))) return index + 2;
  return index + 1;
}

namespace {

bool IsSeparator(char c) { return c >= 1 && c <= 32; }

// A quoted field: up to the matching quote, "" standing for one quote; an
// unclosed quote runs to the end. `i` is at the opening quote and ends after
// the closing one.
std::string QuotedField(const std::string& text, size_t& i) {
  std::string field;
  ++i;
  while (i < text.size()) {
    if (text[i] == '"') {
      if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        i += 2;
        continue;
      }
      ++i;
      return field;
    }
    const size_t next = NextCharIndex(text, i);
    field.append(text, i, next - i);
    i = next;
  }
  return field;
}

}  // namespace

std::vector<std::string> SplitDelimited(const std::string& text, char delimiter) {
  std::vector<std::string> fields;
  const size_t end = text.size();
  size_t i = 0;
  while (i < end && IsSeparator(text[i])) ++i;
  while (i < end) {
    if (text[i] == '"') {
      fields.push_back(QuotedField(text, i));
    } else {
      const size_t start = i;
      while (i < end && !IsSeparator(text[i]) && text[i] != delimiter) i = NextCharIndex(text, i);
      fields.push_back(text.substr(start, i - start));
    }
    while (i < end && IsSeparator(text[i])) ++i;
    if (i < end && text[i] == delimiter) {
      if (i + 1 == end) fields.emplace_back();
      ++i;
      while (i < end && IsSeparator(text[i])) ++i;
    }
  }
  return fields;
}
