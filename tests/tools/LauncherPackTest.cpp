#include "tools/launcher-pack/LauncherPack.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "common/Md5.h"
#include "package/PackageReader.h"
#include "package/PackageTestData.h"
#include "package/SkinLayout.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "support/PngEncoder.h"
#include "support/TestSupport.h"
#include "tools/launcher-pack/PngSize.h"
#include "tools/launcher-pack/PositionsFile.h"

namespace {

struct TToolRun {
  int exitCode;
  std::string out;
  std::string err;
};

// Four values per control, in PositionRecords() order; extremes and negative
// values included so sign and byte order are checked.
std::vector<int16_t> SamplePositionValues() {
  std::vector<int16_t> values;
  for (int k = 0; k < static_cast<int>(PositionRecords().size()); ++k) {
    values.push_back(static_cast<int16_t>(k == 0 ? -32768 : 7 * k - 40));
    values.push_back(static_cast<int16_t>(k == 0 ? 32767 : -3 * k));
    values.push_back(static_cast<int16_t>(100 + k));
    values.push_back(static_cast<int16_t>(k == 1 ? -1 : 20 + k));
  }
  return values;
}

nlohmann::json PositionsDocument(const std::vector<int16_t>& values) {
  nlohmann::json document = nlohmann::json::object();
  for (size_t k = 0; k < PositionRecords().size(); ++k) {
    nlohmann::json& control = document[PositionRecords()[k].control];
    for (size_t f = 0; f < 4; ++f) control[PositionFieldNames()[f]] = values[4 * k + f];
  }
  return document;
}

// The configuration as an operator writes it: UTF-8 with a byte order mark,
// one field per line, a quoted display name that holds a blank, the
// launcher's files on two mirrors.
const char* const SampleConfigUtf8 =
    "\xEF\xBB\xBF"
    "1\n0\n1\n12\n\"奎兰 登录器\"\n"
    "http://127.0.0.1:8080/client/\nhttp://127.0.0.1:8080/launcher/|https://cdn2.example/launcher/\n"
    "http://www.example.com/home\thttp://reg.example/ http://bbs.example/\r\n"
    "http://pay.example/p   http://news.example/\nhttp://forget.example/\n";

class LauncherPackTest : public ::testing::Test {
protected:
  void SetUp() override {
    exePath = folder / "in.exe";
    configPath = folder / "CONFIG.txt";
    skinFolder = folder / "skin";
    positionsPath = folder / "positions.json";
    outPath = folder / "out.exe";
    WriteWholeFile(exePath, FakeExecutable());
    WriteWholeFile(configPath, SampleConfigUtf8);
    ForceDirectories(skinFolder);
    for (size_t i = 0; i < SkinImageNames().size(); ++i) {
      // Every image a size and colour of its own, so order and bytes show.
      const uint32_t width = i == 0 ? 300 : static_cast<uint32_t>(10 + i);
      const uint32_t height = i == 0 ? 200 : static_cast<uint32_t>(5 + 2 * i);
      images.push_back(EncodeSolidPng(width, height, 0x10203000u + static_cast<uint32_t>(i) * 0x050301u));
      WriteWholeFile(SkinPath(SkinImageNames()[i]), images.back());
    }
    WritePositions(PositionsDocument(SamplePositionValues()).dump(2));
  }

  std::string SkinPath(const std::string& name) const { return skinFolder + "/" + name + ".png"; }
  void WritePositions(const std::string& text) const { WriteWholeFile(positionsPath, text); }

  static TToolRun Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunLauncherPack(args, out, err);
    return {code, out.str(), err.str()};
  }
  std::vector<std::string> PackArgs(const std::string& exe, const std::string& out) const {
    return {"pack",        "--exe",   Cp936ToUtf8(exe), "--config", Cp936ToUtf8(configPath), "--skin",
            Cp936ToUtf8(skinFolder), "--positions", Cp936ToUtf8(positionsPath), "-o", Cp936ToUtf8(out)};
  }
  TToolRun Pack() const { return Run(PackArgs(exePath, outPath)); }
  TToolRun Inspect(const std::string& path) const { return Run({"inspect", Cp936ToUtf8(path)}); }

  static TLauncherConfig ReadBack(const std::string& path, TPackageLocations& locations) {
    TLauncherConfig config;
    ReadPackage(path, "launcher", config, locations);
    return config;
  }

  TTempFolder folder;
  std::string exePath, configPath, skinFolder, positionsPath, outPath;
  std::vector<std::string> images;
};

// The line of a report that holds `key`, or "".
std::string LineWith(const std::string& report, const std::string& key) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);)
    if (line.find(key) != std::string::npos) return line;
  return "";
}

// The line of a report's positions list that shows entry `index`.
std::string EntryLine(const std::string& report, int index) {
  std::istringstream lines(report.substr(report.find("\npositions:")));
  const std::string start = (index < 10 ? "   " : "  ") + std::to_string(index) + " ";
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, start.size(), start) == 0) return line;
  return "";
}

std::string LastWord(const std::string& line) { return line.substr(line.find_last_of(' ') + 1); }

TEST_F(LauncherPackTest, PackedFileReadsBackExactly) {
  const TToolRun run = Pack();
  ASSERT_EQ(run.exitCode, ExitOk) << run.err;
  const std::string packed = ReadWholeFile(outPath);
  EXPECT_EQ(packed.substr(0, FakeExecutable().size()), FakeExecutable());

  TPackageLocations locations;
  const TLauncherConfig config = ReadBack(outPath, locations);
  EXPECT_EQ(config._HomeGM, "1");
  EXPECT_EQ(config._AutoClose, "0");
  EXPECT_EQ(config._OnlyAwake, "1");
  EXPECT_EQ(config._GMID, "12");
  EXPECT_EQ(config._LauName, Utf8ToCp936("奎兰 登录器"));
  EXPECT_EQ(config._ClientPatchUrl, "http://127.0.0.1:8080/client/");
  EXPECT_EQ(config._LauncherPathUrl, "http://127.0.0.1:8080/launcher/|https://cdn2.example/launcher/");
  EXPECT_EQ(config._HomePageUrl, "http://www.example.com/home");
  EXPECT_EQ(config._RegistryPageUrl, "http://reg.example/");
  EXPECT_EQ(config._BBSPageUrl, "http://bbs.example/");
  EXPECT_EQ(config._PayPageUrl, "http://pay.example/p");
  EXPECT_EQ(config._NewsPageUrl, "http://news.example/");
  EXPECT_EQ(config._ForgetUrl, "http://forget.example/");

  ASSERT_NE(locations.resoffset, 0);
  int32_t cursor = locations.resoffset;
  for (size_t i = 0; i < images.size(); ++i) {
    const auto image = ReadSkinImageFrom(outPath, locations, SkinImageNames()[i], cursor);
    ASSERT_TRUE(image) << SkinImageNames()[i];
    EXPECT_EQ(std::string(image->begin(), image->end()), images[i]) << SkinImageNames()[i];
  }
  EXPECT_EQ(cursor, locations.resoffset + locations.ressize);

  ASSERT_NE(locations.posoffset, 0);
  EXPECT_EQ(locations.possize, 168);
  std::vector<int16_t> expected = {0, 0, 300, 200};
  const std::vector<int16_t> values = SamplePositionValues();
  expected.insert(expected.end(), values.begin(), values.end());
  cursor = locations.posoffset;
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(ReadPosEntryFrom(outPath, locations, "entry", cursor), expected[i]) << "entry " << i;
}

TEST_F(LauncherPackTest, ConfigurationEncodingAndFieldCount) {
  const std::string cp936Name = Utf8ToCp936("奎兰登录器");
  const std::string cp936Text = "0 1 0 12 " + cp936Name + " a b c d e f g";
  TPackageLocations locations;

  // Code page 936 bytes are not UTF-8: refused by default, taken as they are with the switch.
  WriteWholeFile(configPath, cp936Text);
  TToolRun run = Pack();
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("--config-cp936"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(outPath));
  std::vector<std::string> args = PackArgs(exePath, outPath);
  args.push_back("--config-cp936");
  run = Run(args);
  ASSERT_EQ(run.exitCode, ExitOk) << run.err;
  TLauncherConfig config = ReadBack(outPath, locations);
  EXPECT_EQ(config._LauName, cp936Name);
  EXPECT_EQ(config._NewsPageUrl, "g");
  EXPECT_EQ(config._ForgetUrl, "");

  // A UTF-8 character that code page 936 cannot hold would become "?".
  WriteWholeFile(configPath, "0 1 0 12 \xF0\x9F\x98\x80 a b c d e f g");
  EXPECT_EQ(Pack().exitCode, ExitFailed);

  const std::pair<const char*, const char*> refused[] = {
      {"0 1 0 12 name a b c d e f", "fields"},
      {"0 1 0 12 name a b c d e f g h i", "fields"},
      {"", "fields"},
      // Several base addresses, one of which no run could use.
      {"0 1 0 12 name http://a/||http://b/ b c d e f g", "_ClientPatchUrl holds several base addresses"},
      {"0 1 0 12 name a http://a/|ftp://b/ c d e f g", "address 2 (ftp://b/) is not http:// or https://"},
  };
  for (const auto& [text, expected] : refused) {
    WriteWholeFile(configPath, text);
    run = Pack();
    EXPECT_EQ(run.exitCode, ExitFailed) << text;
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
  }
}

TEST_F(LauncherPackTest, PresentPackageIsReplacedOnlyWhenAsked) {
  ASSERT_EQ(Pack().exitCode, ExitOk);
  const std::string first = ReadWholeFile(outPath);

  const std::string again = folder / "again.exe";
  TToolRun run = Run(PackArgs(outPath, again));
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("--replace"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(again));

  // The old package is stripped exactly: the result equals a fresh pack.
  WriteWholeFile(configPath, "0 1 0 99 other a b c d e f g");
  ASSERT_EQ(Pack().exitCode, ExitOk);
  const std::string fresh = ReadWholeFile(outPath);
  WriteWholeFile(outPath, first);
  std::vector<std::string> args = PackArgs(outPath, again);
  args.push_back("--replace");
  run = Run(args);
  ASSERT_EQ(run.exitCode, ExitOk) << run.err;
  EXPECT_EQ(ReadWholeFile(again), fresh);
  TPackageLocations locations;
  EXPECT_EQ(ReadBack(again, locations)._GMID, "99");

  // A package whose configuration offset points nowhere cannot be stripped.
  WriteWholeFile(outPath, WithDescriptor(first, 0, static_cast<int32_t>(first.size()), 272));
  run = Run(args);
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("cannot strip"), std::string::npos) << run.err;
}

TEST_F(LauncherPackTest, MissingOrForeignSkinImageIsNamed) {
  DeleteFileAt(SkinPath("btn_start_down"));
  TToolRun run = Pack();
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("btn_start_down.png"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(outPath));

  WriteWholeFile(SkinPath("btn_start_down"), images[24]);
  WriteWholeFile(SkinPath("cb_down"), "GIF89a not a png at all, but long enough to hold a header");
  run = Pack();
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("cb_down.png is not a PNG"), std::string::npos) << run.err;
}

TEST_F(LauncherPackTest, BadPositionsFileIsNamedPrecisely) {
  struct TCase {
    const char* what;
    std::function<void(nlohmann::json&)> change;
    std::string raw;  // replaces the document when not empty
    const char* expected;
  };
  const std::vector<TCase> cases = {
      {"missing control", [](nlohmann::json& d) { d.erase("LGmin"); }, "", "control \"LGmin\" is missing"},
      {"above range", [](nlohmann::json& d) { d["LGStart"]["width"] = 32768; }, "", "LGStart.width = 32768"},
      {"below range", [](nlohmann::json& d) { d["wb"]["left"] = -32769; }, "", "wb.left = -32769"},
      {"huge", [](nlohmann::json& d) { d["wb"]["top"] = 18446744073709551615ull; }, "", "wb.top"},
      {"fraction", [](nlohmann::json& d) { d["LGBtn4"]["top"] = 1.5; }, "", "LGBtn4.top is not an integer"},
      {"text", [](nlohmann::json& d) { d["LGBtn4"]["top"] = "50"; }, "", "LGBtn4.top is not an integer"},
      {"missing value", [](nlohmann::json& d) { d["LGClose"].erase("height"); }, "", "LGClose.height is missing"},
      {"unknown control", [](nlohmann::json& d) { d["LGStart2"] = d["LGStart"]; }, "", "unknown control \"LGStart2\""},
      {"unknown value", [](nlohmann::json& d) { d["picLogin"]["widht"] = 1; }, "", "\"picLogin\" has an unknown value"},
      {"not an object", [](nlohmann::json& d) { d["picLogin"] = nlohmann::json::array({1, 2, 3, 4}); }, "",
       "\"picLogin\" is not an object"},
      {"not JSON", {}, "{\"picSlogan\": {\"left\": 1,", "not a JSON object"},
      {"array", {}, "[1, 2, 3]", "not a JSON object"},
  };
  for (const TCase& c : cases) {
    nlohmann::json document = PositionsDocument(SamplePositionValues());
    if (c.change) c.change(document);
    WritePositions(c.raw.empty() ? document.dump() : c.raw);
    const TToolRun run = Pack();
    EXPECT_EQ(run.exitCode, ExitFailed) << c.what;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find("positions.json"), std::string::npos) << c.what << ": " << run.err;
    EXPECT_FALSE(FileExists(outPath)) << c.what;
  }
}

TEST_F(LauncherPackTest, SizeOfUnappliedControlsMayBeLeftOut) {
  nlohmann::json document = PositionsDocument(SamplePositionValues());
  document["lbMember"].erase("width");
  document["lbMember"].erase("height");
  document["lbIngUpdate"].erase("height");
  const TPngSize background{300, 200};
  std::vector<int16_t> entries;
  std::string error;
  ASSERT_TRUE(ParsePositions(document.dump(), background, entries, error)) << error;
  ASSERT_EQ(entries.size(), 84u);
  // lbMember is record 6 (entries 24..27), lbIngUpdate record 14 (56..59).
  EXPECT_EQ(entries[24], SamplePositionValues()[20]);
  EXPECT_EQ(entries[26], 0);
  EXPECT_EQ(entries[27], 0);
  EXPECT_EQ(entries[58], SamplePositionValues()[54]);
  EXPECT_EQ(entries[59], 0);

  EXPECT_FALSE(ParsePositions(document.dump(), TPngSize{40000, 200}, entries, error));
  EXPECT_NE(error.find("background"), std::string::npos) << error;
}

TEST(PngSizeTest, ReadsTheHeaderAndRejectsDamage) {
  const std::string png = EncodeSolidPng(1002, 642, 0x336699FFu);
  const auto size = ReadPngSize(png);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 1002u);
  EXPECT_EQ(size->height, 642u);

  std::string damaged = png;
  damaged[18] ^= 0x01;  // a width byte: the header checksum no longer fits
  std::string signature = png;
  signature[1] = 'p';
  std::string zeroWidth = EncodeSolidPng(0, 5, 0);
  for (const std::string& bad : {png.substr(0, 32), damaged, signature, zeroWidth, std::string()})
    EXPECT_FALSE(ReadPngSize(bad));
}

TEST_F(LauncherPackTest, InspectShowsAGoodPackage) {
  ASSERT_EQ(Pack().exitCode, ExitOk);
  const TToolRun run = Inspect(outPath);
  EXPECT_EQ(run.exitCode, ExitOk) << run.out;
  EXPECT_NE(LineWith(run.out, "_LauName").find("奎兰 登录器"), std::string::npos) << run.out;
  EXPECT_NE(LineWith(run.out, "_ForgetUrl").find("http://forget.example/"), std::string::npos);
  // Several base addresses: the field as stored, then each in the runs' order.
  EXPECT_NE(LineWith(run.out, "_LauncherPathUrl").find("launcher/|https://cdn2"), std::string::npos) << run.out;
  EXPECT_EQ(LineWith(run.out, "mirror 1:"), "    mirror 1: http://127.0.0.1:8080/launcher/");
  EXPECT_EQ(LineWith(run.out, "mirror 2:"), "    mirror 2: https://cdn2.example/launcher/");
  EXPECT_EQ(LineWith(run.out, "mirror 3:"), "");
  EXPECT_NE(LineWith(run.out, " background ").find("300 x 200"), std::string::npos) << run.out;
  EXPECT_NE(LineWith(run.out, " min_down ").find("42 x 69"), std::string::npos) << run.out;
  EXPECT_EQ(LastWord(EntryLine(run.out, 2)), "300");
  EXPECT_EQ(LastWord(EntryLine(run.out, 4)), "-32768");
  // LGClose's height carries the label of another control; lbIngUpdate's
  // size is stored but not applied.
  const std::string closeHeight = EntryLine(run.out, 63);
  EXPECT_NE(closeHeight.find("LGClose       height  lbIngUpdate H"), std::string::npos) << closeHeight;
  EXPECT_EQ(LastWord(closeHeight), std::to_string(SamplePositionValues()[59]));
  const std::string skipped = EntryLine(run.out, 59);
  EXPECT_NE(skipped.find("lbIngUpdate   height  (not applied)"), std::string::npos) << skipped;
  EXPECT_EQ(LastWord(skipped), std::to_string(SamplePositionValues()[55]));
  EXPECT_EQ(LineWith(run.out, "PROBLEM"), "");
  EXPECT_NE(LineWith(run.out, "package ok"), "");
}

TEST_F(LauncherPackTest, InspectFailsOnDamage) {
  ASSERT_EQ(Pack().exitCode, ExitOk);
  const std::string good = ReadWholeFile(outPath);
  const size_t skinStart = FakeExecutable().size() + 272;
  std::string flipped = good;
  flipped[skinStart + 100] ^= 0x40;
  std::string noMagic = good;
  noMagic.back() = 0x13;
  struct TCase {
    const char* what;
    std::string bytes;
    const char* expected;
  };
  const std::vector<TCase> cases = {
      {"wrong magic", noMagic, "not the package magic"},
      {"no package", FakeExecutable(), "not the package magic"},
      {"damaged skin", flipped, "the skin block's digest does not match"},
      {"positions past the end", WithDescriptor(good, 2, static_cast<int32_t>(good.size()) - 100, 168),
       "the positions block (offset"},
      {"config at 0", WithDescriptor(good, 0, 0, 272), "the config block (offset 0"},
      {"too short", good.substr(good.size() - 60), "too short"},
  };
  for (const TCase& c : cases) {
    WriteWholeFile(outPath, c.bytes);
    const TToolRun run = Inspect(outPath);
    EXPECT_EQ(run.exitCode, ExitFailed) << c.what;
    EXPECT_NE(LineWith(run.out, "PROBLEM").find(c.expected), std::string::npos) << c.what << ":\n" << run.out;
  }
  // A damaged block does not hide the sound ones.
  WriteWholeFile(outPath, flipped);
  EXPECT_NE(LineWith(Inspect(outPath).out, "_GMID").find("12"), std::string::npos);
  EXPECT_EQ(Inspect(folder / "absent.exe").exitCode, ExitFailed);
}

// Any change to a trailer byte (offsets, sizes, digests) and any cut of the
// file is found; none of them makes inspect read outside the file.
TEST_F(LauncherPackTest, InspectFindsEveryTrailerChange) {
  ASSERT_EQ(Pack().exitCode, ExitOk);
  const std::string good = ReadWholeFile(outPath);
  std::mt19937 random(20261207);
  const size_t trailerStart = good.size() - TrailerAndMagicSize;
  for (int i = 0; i < 60; ++i) {
    std::string bytes = good;
    const size_t at = trailerStart + random() % TrailerSize;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
    WriteWholeFile(outPath, bytes);
    EXPECT_EQ(Inspect(outPath).exitCode, ExitFailed) << "byte " << at - trailerStart << " of the trailer";
  }
  for (int i = 0; i < 20; ++i) {
    const size_t cut = 1 + random() % (good.size() - 1);
    WriteWholeFile(outPath, good.substr(0, good.size() - cut));
    EXPECT_EQ(Inspect(outPath).exitCode, ExitFailed) << "cut " << cut;
  }
}

TEST_F(LauncherPackTest, InspectReportsRecordsTheLauncherCannotUse) {
  TPackageContent content = SampleContent({"1", "2", "3"});
  content.images = {images[0], "this record is not a PNG"};
  content.positions.resize(80);
  const std::string exe = FakeExecutable();
  WriteWholeFile(outPath, exe + BuildPackage(content, static_cast<int64_t>(exe.size())));
  const TToolRun run = Inspect(outPath);
  EXPECT_EQ(run.exitCode, ExitFailed);
  for (const char* expected : {"fewer than 12 fields", "record 2 (btn_cz_normal, 24 bytes) is not a PNG",
                               "2 images instead of 33", "80 entries instead of 84"})
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << ":\n" << run.out;

  content = SampleContent();
  content.images = {images[0]};
  std::string skin = BuildPackage(content, static_cast<int64_t>(exe.size()));
  // Make the one record claim more bytes than the block holds; fix its digest
  // so only the record structure is wrong.
  TToolRun longRecord;
  {
    std::string packed = exe + skin;
    const size_t at = exe.size() + 272;
    packed[at + 1] = static_cast<char>(packed[at + 1] + 1);
    const std::string block = packed.substr(at, 4 + images[0].size());
    const size_t md5At = packed.size() - TrailerAndMagicSize + DescriptorSize + 8;
    packed.replace(md5At, 32, MD5OfMemory(block));
    WriteWholeFile(outPath, packed);
    longRecord = Inspect(outPath);
  }
  EXPECT_EQ(longRecord.exitCode, ExitFailed);
  EXPECT_NE(longRecord.out.find("record 1 (background) has the length"), std::string::npos) << longRecord.out;
}

TEST(LauncherPackArgumentsTest, UsageErrorsExitWithTwo) {
  std::ostringstream out, err;
  struct TCase {
    std::vector<std::string> args;
    const char* expected;
  };
  const std::vector<TCase> cases = {
      {{"pack", "--exe", "a.exe", "--config", "c.txt", "--skin", "s", "-o", "o.exe"}, "--positions"},
      {{"pack", "--exe"}, "--exe needs a value"},
      {{"pack", "--exe", "a.exe", "--colour", "red"}, "unknown option --colour"},
      {{"inspect"}, "inspect takes one file"},
      {{"inspect", "a.exe", "b.exe"}, "inspect takes one file"},
      {{"unpack"}, "unknown command unpack"},
  };
  for (const TCase& c : cases) {
    std::ostringstream caseOut, caseErr;
    EXPECT_EQ(RunLauncherPack(c.args, caseOut, caseErr), ExitUsage) << c.expected;
    EXPECT_NE(caseErr.str().find(c.expected), std::string::npos) << caseErr.str();
  }
  EXPECT_EQ(RunLauncherPack({}, out, err), ExitOk);
  EXPECT_NE(out.str().find("launcher-pack pack --exe"), std::string::npos);
}

}  // namespace

// The key reaches the 14th field from --public-key or from the file itself,
// never in place of _ForgetUrl, and inspect shows it.
TEST_F(LauncherPackTest, PublicKeyTravelsAsTheFourteenthField) {
  const std::string otherKey =
      "p256:BMGoeQHVt8R8YXXa6Ur7wvRIHcTxRUTho9IrfC/VO8HOnrYYLJ2ztZOXXVYocSco0TbAPxdlm7RQ7bdVTnV/qKU=";
  std::vector<std::string> args = PackArgs(exePath, outPath);
  args.insert(args.end(), {"--public-key", SampleKeyText()});
  TToolRun run = Run(args);
  ASSERT_EQ(run.exitCode, ExitOk) << run.err;
  TPackageLocations locations;
  TLauncherConfig config = ReadBack(outPath, locations);
  EXPECT_EQ(config._PublicKey, SampleKeyText());
  EXPECT_EQ(config._ForgetUrl, "http://forget.example/");
  run = Inspect(outPath);
  EXPECT_EQ(run.exitCode, ExitOk) << run.out;
  EXPECT_EQ(LineWith(run.out, "public key:"), std::string("public key: ") + SampleKeyText());

  // Twelve fields and a key: the 13th stays empty.
  WriteWholeFile(configPath, "0 1 0 12 name a b c d e f g");
  ASSERT_EQ(Run(args).exitCode, ExitOk);
  config = ReadBack(outPath, locations);
  EXPECT_EQ(config._NewsPageUrl, "g");
  EXPECT_EQ(config._ForgetUrl, "");
  EXPECT_EQ(config._PublicKey, SampleKeyText());

  // The key in the file, alone or with the same option; a different option is refused.
  WriteWholeFile(configPath, std::string("0 1 0 12 name a b c d e f g \"\" ") + SampleKeyText());
  ASSERT_EQ(Pack().exitCode, ExitOk);
  EXPECT_EQ(ReadBack(outPath, locations)._PublicKey, SampleKeyText());
  EXPECT_EQ(Run(args).exitCode, ExitOk);
  DeleteFileAt(outPath);
  std::vector<std::string> differing = PackArgs(exePath, outPath);
  differing.insert(differing.end(), {"--public-key", otherKey});
  run = Run(differing);
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("differs"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(outPath));

  // A text that is not a key is refused in either place.
  std::vector<std::string> bad = PackArgs(exePath, outPath);
  bad.insert(bad.end(), {"--public-key", "p256:AAAA"});
  WriteWholeFile(configPath, SampleConfigUtf8);
  EXPECT_EQ(Run(bad).exitCode, ExitFailed);
  WriteWholeFile(configPath, "0 1 0 12 name a b c d e f g h ed25519:abc");
  run = Pack();
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_NE(run.err.find("public key"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(outPath));
}

TEST_F(LauncherPackTest, InspectNamesAMissingOrUnreadableKey) {
  ASSERT_EQ(Pack().exitCode, ExitOk);
  TToolRun run = Inspect(outPath);
  EXPECT_EQ(LineWith(run.out, "public key:"), "public key: none");
  EXPECT_EQ(run.exitCode, ExitOk);

  // A package written by other means with a damaged key: the launcher would
  // refuse to update, so inspect reports a problem.
  std::vector<std::string> fields = ThirteenFields();
  fields.push_back("p256:BGsX0fLhLEJH");
  const std::string exe = FakeExecutable();
  WriteWholeFile(outPath, exe + BuildPackage(SampleContent(fields), static_cast<int64_t>(exe.size())));
  run = Inspect(outPath);
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_EQ(LineWith(run.out, "public key:"), "public key: p256:BGsX0fLhLEJH");
  EXPECT_NE(LineWith(run.out, "PROBLEM").find("refuses to update"), std::string::npos) << run.out;
}
