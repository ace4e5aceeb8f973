#include "signing/ReleaseSignature.h"

#include <limits>
#include <vector>

#include "signing/TextCodec.h"

namespace {

constexpr std::string_view FirstLine = "launcher-signature 1";
constexpr std::string_view PublicKeyPrefix = "p256:";
// A document name is a relative address ("complete/release.json"): printable
// ASCII without blanks, of a sane length.
constexpr size_t MaxDocumentNameLength = 255;

bool IsDocumentName(std::string_view name) {
  if (name.empty() || name.size() > MaxDocumentNameLength) return false;
  for (const char c : name) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

// Splits a text of LF-ended lines; false when the last line has no LF.
bool SplitLines(std::string_view text, std::vector<std::string_view>& lines) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return true;
}

// The value of a "key value" line; false for another key.
bool LineValue(std::string_view line, std::string_view key, std::string_view& value) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ' ') return false;
  value = line.substr(key.size() + 1);
  return true;
}

}  // namespace

std::string SignedText(const TReleaseSignature& sig) {
  std::string text;
  text.append(FirstLine).append("\n");
  text.append("document ").append(sig.document).append("\n");
  text.append("version ").append(std::to_string(sig.version)).append("\n");
  text.append("expires ").append(std::to_string(sig.expires)).append("\n");
  text.append("sha256 ").append(HexLower(sig.documentSha256.data(), sig.documentSha256.size())).append("\n");
  return text;
}

std::string FormatSignatureFile(const TReleaseSignature& sig) {
  return SignedText(sig) + "signature " + Base64Of(sig.signature.data(), sig.signature.size()) + "\n";
}

bool ParseSignatureFile(std::string_view text, TReleaseSignature& out) {
  if (text.size() > MaxSignatureFileSize) return false;
  std::vector<std::string_view> lines;
  if (!SplitLines(text, lines) || lines.size() != 6 || lines[0] != FirstLine) return false;

  TReleaseSignature parsed;
  std::string_view value;
  if (!LineValue(lines[1], "document", value) || !IsDocumentName(value)) return false;
  parsed.document = value;
  if (!LineValue(lines[2], "version", value) ||
      !ParseCanonicalDecimal(value, std::numeric_limits<uint64_t>::max(), parsed.version)) {
    return false;
  }
  uint64_t expires = 0;
  if (!LineValue(lines[3], "expires", value) ||
      !ParseCanonicalDecimal(value, std::numeric_limits<int64_t>::max(), expires)) {
    return false;
  }
  parsed.expires = static_cast<int64_t>(expires);
  if (!LineValue(lines[4], "sha256", value) ||
      !DecodeHexLower(value, parsed.documentSha256.data(), parsed.documentSha256.size())) {
    return false;
  }
  if (!LineValue(lines[5], "signature", value) ||
      !DecodeBase64Exact(value, parsed.signature.data(), parsed.signature.size())) {
    return false;
  }
  out = std::move(parsed);
  return true;
}

bool ParsePublicKeyText(std::string_view text, TPublicKey& key) {
  if (text.substr(0, PublicKeyPrefix.size()) != PublicKeyPrefix) return false;
  TPublicKey parsed;
  if (!DecodeBase64Exact(text.substr(PublicKeyPrefix.size()), parsed.data(), parsed.size())) return false;
  // Only the uncompressed form of a point is a key here.
  if (parsed[0] != 0x04) return false;
  key = parsed;
  return true;
}

std::string FormatPublicKeyText(const TPublicKey& key) {
  return std::string(PublicKeyPrefix) + Base64Of(key.data(), key.size());
}
