#include "update/manifest/ManifestReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// What the document tree makes of a manifest: whether it is an array, and
// each element's entry (as text) up to and including the first error.
std::vector<std::string> ThroughTree(const std::string& text, bool& isArray) {
  TJsonValue document;
  isArray = ParseUpdateJson(text, document) && document.is_array();
  std::vector<std::string> seen;
  if (!isArray) return seen;
  for (const TJsonValue& element : document) {
    try {
      const TManifestEntry e = ReadManifestEntry(element);
      seen.push_back(e.File + "|" + std::to_string(e.isLauncher) + "|" + std::to_string(e.Need) + "|" + e.Hash + "|" +
                     std::to_string(e.Size) + "|" + std::to_string(e.IsZip));
    } catch (const EUpdateJsonError& error) {
      seen.push_back(std::string("error: ") + error.what());
      break;
    }
  }
  return seen;
}

std::vector<std::string> ThroughReader(const TManifest& manifest) {
  std::vector<std::string> seen;
  for (size_t i = 0; i < manifest.Count(); ++i) {
    try {
      const TManifestEntry e = manifest.Entry(i);
      seen.push_back(e.File + "|" + std::to_string(e.isLauncher) + "|" + std::to_string(e.Need) + "|" + e.Hash + "|" +
                     std::to_string(e.Size) + "|" + std::to_string(e.IsZip));
    } catch (const EUpdateJsonError& error) {
      seen.push_back(std::string("error: ") + error.what());
      break;
    }
  }
  return seen;
}

// Hands out the text in pieces of 1 to 7 bytes.
TByteSource PieceSource(const std::string& text, unsigned seed) {
  return [&text, offset = size_t(0), random = std::mt19937(seed)](char* buffer, size_t capacity) mutable {
    const size_t count = std::min({capacity, text.size() - offset, static_cast<size_t>(random() % 7 + 1)});
    std::memcpy(buffer, text.data() + offset, count);
    offset += count;
    return count;
  };
}

const std::string Documents[] = {
    R"([{"File":"a.dat","isLauncher":0,"Need":true,"Hash":"0cc175b9c0f1b6a831c399e269772661","Size":1,"IsZip":false}])",
    // Rounding, missing keys, unknown keys with nested values, keys that differ in case.
    R"([{"File":"b.dat","Size":10.5,"isLauncher":0.4,"Extra":{"File":"x","Size":"no"},"file":5,"HASH":[1]}])",
    // A repeated key: the last value counts, also when the first was of a wrong type.
    R"([{"File":"c.dat","Size":"big","Size":7,"Need":1,"Need":true},{"File":"d","File":"e"}])",
    // Wrong types in the middle: the walk stops there.
    R"([{"File":"f.dat","Need":true},{"File":"g.dat","Size":"100"},{"File":"h.dat"}])",
    R"([{"File":"i.dat"},{"Need":{"a":[1,2,{"b":null}]}}])",
    R"([{"File":"j.dat"},{"Hash":["0cc175b9c0f1b6a831c399e269772661"]}])",
    R"([{"File":"k.dat","Size":3000000000}])",
    R"([{"File":"k.dat","isLauncher":18446744073709551615}])",
    R"([{"File":"k.dat","isLauncher":-1e300}])",
    // Elements that are not objects.
    R"([{"File":"l.dat"},"m.dat"])", R"([[{"File":"n.dat"}],{"File":"o.dat"}])", R"([null])", R"([5])",
    // Hashes that are not 32 lowercase digits are kept as they are.
    R"([{"File":"p","Hash":"0CC175B9C0F1B6A831C399E269772661"},{"File":"q","Hash":"abc"},{"File":"r","Hash":""}])",
    R"([{"File":"s","Hash":"0cc175b9c0f1b6a831c399e26977266g"},{"File":"t","Hash":"0cc175b9c0f1b6a831c399e2697726610"}])",
    // UTF-8 names, escapes, a byte-order mark (two of them: one is ours, one the parser's).
    "[{\"File\":\"\xE5\x9C\xB0\xE5\x9B\xBE\\\\a.dat\",\"Hash\":\"\\u0041\"}]",
    "\xEF\xBB\xBF[{\"File\":\"u.dat\"}]", "\xEF\xBB\xBF\xEF\xBB\xBF[{\"File\":\"v.dat\"}]",
    // Not manifests.
    "", "[", "[{\"File\":\"w\"},]", "[] x", "{\"File\":\"x\"}", "5", "\"[]\"", "[]", " [ ] ", "[{}]", "\xEF\xBB",
    "[\"\xFF\"]", "[1e400]", "[-]", "[01]",
    // Plain elements first, then one the quick scan leaves to the parser, then plain ones again.
    R"([{"File":"a","Size":-0,"isLauncher":-3},{"File":"b","Size":1.0},{"File":"c","Size":5}])",
    R"([{"File":"a"} , {"File":"b\u0041","Hash":"\"\\\/\b\f\n\r\t"},{"File":"c"}])",
    R"([{"File":"a","Other":[1]},{"File":"b"}])", R"([{"File":"a"},{"File":"b","Size":1234567890123456789}])",
    R"([{"File":"a","X":tru}])", R"([{"File":"a"}] x)", std::string("[{\"File\":\"a\"}]\n\0\0", 18),
    std::string("[{\"File\":\"a\"},\0]", 16), std::string("[{\"File\":\"a\"}]\0x", 16), R"([{"File":"a"}] ])", R"([{"File":"a"},,{"File":"b"}])",
    R"([{"File":"a"}{"File":"b"}])", R"([{"File":"a",}])", R"([{"File":"a" "Need":true}])",
    R"([{"File":"a","Need":null}])", R"([{"File":"a","Size":2147483648}])", R"([{"File":"a","Size":-2147483648}])",
    "\t[\r\n{ \"File\" :\t\"a\" ,\"Need\":false,\"\":0}\n]\n",
    // UTF-8: well-formed names in the quick scan, broken ones for the parser to refuse.
    "[{\"File\":\"\xE5\x9C\xB0\"},{\"File\":\"\xF0\x9F\x98\x80\xC2\xA9\"}]",
    "[{\"File\":\"a\"},{\"File\":\"\xE0\x80\x80\"}]", "[{\"File\":\"\xED\xA0\x80\"}]",
    "[{\"File\":\"\xC0\xAF\"}]", "[{\"File\":\"a\x01\"}]", "[{\"File\":\"\xF4\x90\x80\x80\"}]",
};

}  // namespace

TEST(ManifestReader, ReadsEveryElementAsTheDocumentTreeDoes) {
  for (const std::string& text : Documents) {
    bool isArray = false;
    const std::vector<std::string> expected = ThroughTree(text, isArray);
    const std::string& bytes = text;
    for (unsigned pieces = 0; pieces < 3; ++pieces) {
      TManifest manifest;
      const bool read = manifest.Read(pieces == 0 ? StringSource(bytes) : PieceSource(bytes, pieces));
      EXPECT_EQ(read, isArray) << text;
      EXPECT_EQ(ThroughReader(manifest), expected) << text << " in pieces " << pieces;
      if (!isArray) EXPECT_TRUE(manifest.Empty()) << text;
    }
  }
}

TEST(ManifestReader, CountsElementsAfterTheFirstWrongOneAndRepeatsItsError) {
  TManifest manifest;
  ASSERT_TRUE(manifest.Read(StringSource(R"([{"File":"a"},{"Size":"x"},{"File":"c"},{"IsZip":1}])")));
  EXPECT_EQ(manifest.Count(), 4u);  // progress is reported against every element
  EXPECT_EQ(manifest.Entry(0).File, "a");
  EXPECT_THROW(manifest.Entry(1), EUpdateJsonError);
  try {
    manifest.Entry(3);
    FAIL();
  } catch (const EUpdateJsonError& error) {
    EXPECT_STREQ(error.what(), "\"Size\" is not a number");
  }
  // A later read starts afresh.
  ASSERT_TRUE(manifest.Read(StringSource(R"([{"File":"z"}])")));
  EXPECT_EQ(manifest.Count(), 1u);
  EXPECT_EQ(manifest.Entry(0).File, "z");
  EXPECT_FALSE(manifest.Read(StringSource("[{\"File\":\"z\"}")));
  EXPECT_EQ(manifest.Count(), 0u);
}

TEST(ManifestReader, AcceptsAFetchedManifestAsTheTreeRuleDoes) {
  for (const std::string& text : Documents) {
    TJsonValue document;
    ParseUpdateJson(text, document);
    bool treeThrew = false, readerThrew = false, tree = false, reader = false;
    try {
      tree = IsAcceptedManifest(document);
    } catch (const EUpdateJsonError&) {
      treeThrew = true;
    }
    try {
      reader = IsAcceptedManifestText(text);
    } catch (const EUpdateJsonError&) {
      readerThrew = true;
    }
    EXPECT_EQ(reader, tree) << text;
    EXPECT_EQ(readerThrew, treeThrew) << text;
  }
  // Only the first element's File decides; later elements need only parse.
  EXPECT_TRUE(IsAcceptedManifestText(R"([{"File":"a","Size":"x"},5])"));
  EXPECT_FALSE(IsAcceptedManifestText(R"([{"File":"a"},5)"));
  EXPECT_THROW(IsAcceptedManifestText(R"([["a"]])"), EUpdateJsonError);
  EXPECT_THROW(IsAcceptedManifestText(R"([{"File":1}])"), EUpdateJsonError);
}
