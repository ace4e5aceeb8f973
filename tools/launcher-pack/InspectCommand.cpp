#include "tools/launcher-pack/InspectCommand.h"

#include <optional>
#include <vector>

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/Md5.h"
#include "package/LauncherConfig.h"
#include "package/PackageFormat.h"
#include "package/SkinLayout.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "signing/ReleaseSignature.h"
#include "tools/launcher-pack/PngSize.h"
#include "tools/launcher-pack/ToolFiles.h"

namespace {

// Collects what is wrong while the report is printed.
class TInspection {
public:
  explicit TInspection(std::ostream& out) : FOut(out) {}
  void Line(const std::string& text) { FOut << text << '\n'; }
  void Problem(const std::string& text) {
    FOut << "  PROBLEM: " << text << '\n';
    ++FProblems;
  }
  int Problems() const { return FProblems; }

private:
  std::ostream& FOut;
  int FProblems = 0;
};

// The stored digest as printable text, whatever bytes a damaged trailer holds.
std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown)
    if (c < 0x20 || c > 0x7E) c = '?';
  return shown;
}

// A block is read only when it lies between the file's start and the trailer.
std::optional<std::string> VerifiedBlock(TFileStream& file, int64_t trailerStart, const char* name,
                                         const TBlockDescriptor& d, TInspection& report) {
  const std::string line = Format("%-10s offset=%d size=%d md5=%s", name, d.offset, d.size, Printable(d.md5).c_str());
  if (d.offset <= 0 || d.size <= 0 || static_cast<int64_t>(d.offset) + d.size > trailerStart) {
    report.Line(line + " OUT OF RANGE");
    report.Problem(Format("the %s block (offset %d, size %d) does not lie inside the file's %lld bytes before the "
                          "trailer",
                          name, d.offset, d.size, static_cast<long long>(trailerStart)));
    return std::nullopt;
  }
  std::string block(static_cast<size_t>(d.size), '\0');
  file.Seek(d.offset);
  file.ReadBuffer(block.data(), block.size());
  const std::string realHash = MD5OfMemory(block);
  if (realHash != d.md5) {
    report.Line(line + " DIGEST MISMATCH");
    report.Problem(Format("the %s block's digest does not match: stored %s, computed %s", name,
                          Printable(d.md5).c_str(), realHash.c_str()));
    return std::nullopt;
  }
  report.Line(line + " ok");
  return block;
}

// A key the launcher cannot read makes it refuse every update, so it is a
// problem of the package, not a launcher without a key.
void ShowPublicKey(const std::string& text, TInspection& report) {
  if (text.empty()) {
    report.Line("public key: none");
    return;
  }
  report.Line("public key: " + Cp936ToUtf8(text));
  TPublicKey key;
  if (!ParsePublicKeyText(text, key))
    report.Problem("the public key is not a key text: the launcher refuses to update until it is replaced");
}

// Several base addresses: the runs try them in this order.
void ShowBaseAddresses(const std::string& name, const std::string& field, TInspection& report) {
  const std::vector<std::string> bases = BaseAddresses(field);
  if (bases.size() < 2) return;
  for (size_t i = 0; i < bases.size(); ++i)
    report.Line(Format("    mirror %d: %s", static_cast<int>(i + 1), Cp936ToUtf8(bases[i]).c_str()));
  const std::string problem = BaseAddressProblem(field);
  if (!problem.empty()) report.Problem(name + ": " + problem);
}

void ShowConfig(const std::string& block, TInspection& report) {
  const std::vector<std::string> fields = SplitDelimited(block.substr(0, block.find('\0')), ' ');
  report.Line(Format("configuration: %d fields", static_cast<int>(fields.size())));
  const std::vector<std::string>& names = ConfigFieldNames();
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string name = i < names.size() ? names[i] : "(ignored)";
    report.Line(Format("  %-17s %s", name.c_str(), Cp936ToUtf8(fields[i]).c_str()));
    if (IsBaseAddressField(i)) ShowBaseAddresses(name, fields[i], report);
  }
  if (fields.size() < ConfigFieldsRequired) {
    report.Problem("fewer than 12 fields: the launcher sets no configuration member");
    return;
  }
  ShowPublicKey(fields.size() > PublicKeyField ? fields[PublicKeyField] : std::string(), report);
}

std::string ImageLabel(size_t index) {
  const std::vector<std::string>& names = SkinImageNames();
  return index < names.size() ? names[index] : "(not read)";
}

void ShowSkin(const std::string& block, TInspection& report) {
  report.Line("skin images:");
  size_t at = 0;
  size_t index = 0;
  while (at < block.size()) {
    const std::string label = ImageLabel(index);
    if (block.size() - at < 4) {
      report.Problem(Format("%d stray bytes after the last record", static_cast<int>(block.size() - at)));
      return;
    }
    const int32_t length = static_cast<int32_t>(LoadLE32(reinterpret_cast<const uint8_t*>(block.data() + at)));
    if (length <= 0 || static_cast<size_t>(length) > block.size() - at - 4) {
      report.Problem(Format("record %d (%s) has the length %d, which the block cannot hold; the launcher stops here",
                            static_cast<int>(index + 1), label.c_str(), length));
      return;
    }
    const std::optional<TPngSize> size = ReadPngSize(block.data() + at + 4, static_cast<size_t>(length));
    if (size)
      report.Line(Format("  %2d %-18s %5u x %-5u %8d bytes", static_cast<int>(index + 1), label.c_str(),
                         size->width, size->height, length));
    else
      report.Problem(Format("record %d (%s, %d bytes) is not a PNG", static_cast<int>(index + 1), label.c_str(),
                            length));
    at += 4 + static_cast<size_t>(length);
    ++index;
  }
  if (index < SkinImageNames().size())
    report.Problem(Format("%d images instead of %d: the launcher binds no image from \"%s\" on",
                          static_cast<int>(index), static_cast<int>(SkinImageNames().size()),
                          ImageLabel(index).c_str()));
}

// What entry `index` places and the label the launcher logs when it reads
// it. The first four entries (the background's placement and size) are not
// read; the sizes of three labels are stored but not applied.
struct TEntryName {
  std::string control, field, label;
};

TEntryName EntryName(size_t index) {
  static const char* const Fields[4] = {"left", "top", "width", "height"};
  if (index < 4) return {"background", Fields[index], "(not read)"};
  const size_t record = (index - 4) / 4;
  const size_t field = (index - 4) % 4;
  if (record >= PositionRecords().size()) return {"-", "-", "(not read)"};
  const TPositionRecord& r = PositionRecords()[record];
  return {r.control, Fields[field], r.labels[field].empty() ? "(not applied)" : r.labels[field]};
}

void ShowPositions(const std::string& block, TInspection& report) {
  const size_t count = block.size() / 2;
  report.Line(Format("positions: %d entries", static_cast<int>(count)));
  for (size_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(block.data() + 2 * i);
    const int value = static_cast<int16_t>(p[0] | p[1] << 8);
    const TEntryName name = EntryName(i);
    report.Line(Format("  %2d %-13s %-7s %-16s %6d", static_cast<int>(i), name.control.c_str(), name.field.c_str(),
                       name.label.c_str(), value));
  }
  if (count < static_cast<size_t>(PositionEntryCount))
    report.Problem(Format("%d entries instead of %d: the launcher finds the later ones out of range",
                          static_cast<int>(count), PositionEntryCount));
}

void InspectFile(TFileStream& file, const std::string& path, TInspection& report) {
  const int64_t fileSize = file.Size();
  report.Line(Format("file %s, %lld bytes", ShownPath(path).c_str(), static_cast<long long>(fileSize)));
  uint8_t magicBytes[4] = {0, 0, 0, 0};
  if (fileSize >= 4) {
    file.Seek(fileSize - 4);
    file.ReadBuffer(magicBytes, 4);
  }
  const uint32_t magic = LoadLE32(magicBytes);
  if (magic != PackageMagic) {
    report.Problem(Format("the last 4 bytes are 0x%08X, not the package magic 0x%08X: no package", magic,
                          PackageMagic));
    return;
  }
  if (fileSize < TrailerAndMagicSize) {
    report.Problem("the file is too short for the package trailer");
    return;
  }
  const int64_t trailerStart = fileSize - TrailerAndMagicSize;
  uint8_t trailerBytes[TrailerSize];
  file.Seek(trailerStart);
  file.ReadBuffer(trailerBytes, TrailerSize);
  const TPackageTrailer trailer = DecodeTrailer(trailerBytes);
  report.Line(Format("magic 0x%08X, trailer at %lld", magic, static_cast<long long>(trailerStart)));

  const auto config = VerifiedBlock(file, trailerStart, "config", trailer.url, report);
  const auto skin = VerifiedBlock(file, trailerStart, "skin", trailer.res, report);
  const auto positions = VerifiedBlock(file, trailerStart, "positions", trailer.pos, report);
  if (config) ShowConfig(*config, report);
  if (skin) ShowSkin(*skin, report);
  if (positions) ShowPositions(*positions, report);
}

}  // namespace

bool InspectPackage(const std::string& path, std::ostream& out) {
  TInspection report(out);
  try {
    TFileStream file(path, TFileMode::ReadShared);
    InspectFile(file, path, report);
  } catch (const EFileError& e) {
    report.Problem(ShownPath(path) + ": " + Cp936ToUtf8(e.what()));
  }
  if (report.Problems() == 0)
    report.Line("package ok");
  else
    report.Line(Format("package has %d problem(s)", report.Problems()));
  return report.Problems() == 0;
}
