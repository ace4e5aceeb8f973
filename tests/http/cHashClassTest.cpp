#include "http/cHashClass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct TItem {
  explicit TItem(int v, int* freed = nullptr) : value(v), freedCount(freed) {}
  ~TItem() {
    if (freedCount) ++*freedCount;
  }
  int value;
  int* freedCount;
};

std::vector<int> Walk(TNamesHash<TItem>& table) {
  std::vector<int> values;
  for (TItem* item = table.First(); !table.AtEnd(); item = table.Next()) values.push_back(item->value);
  return values;
}

}  // namespace

TEST(NamesHash, HashFoldsCapitalsAndRotatesByTwoBits) {
  EXPECT_EQ(NamesHashOf(""), 0u);
  EXPECT_EQ(NamesHashOf("a"), 0x61u);
  // h = 'b' xor (0x61 rotl 2)
  EXPECT_EQ(NamesHashOf("ab"), 0x62u ^ (0x61u << 2));
  EXPECT_EQ(NamesHashOf("AB"), NamesHashOf("ab"));
  // The rotation wraps: 17 bytes push the first one past bit 31.
  const std::string key(17, '\x7f');
  uint32_t h = 0;
  for (int i = 0; i < 17; ++i) h = 0x7fu ^ (h << 2 | h >> 30);
  EXPECT_EQ(NamesHashOf(key), h);
}

TEST(NamesHash, SecondByteOfDoubleByteCharacterIsNotFolded) {
  // 0x81 0x41 is one character whose second byte happens to be "A".
  const std::string wide = "\x81\x41";
  EXPECT_EQ(NamesHashOf(wide), 0x41u ^ (0x81u << 2));
  EXPECT_FALSE(SameName(wide, "\x81\x61"));
  EXPECT_TRUE(SameName("Data\\MAP\\a.DAT", "data\\map\\A.dat"));
  EXPECT_FALSE(SameName("a.dat", "a.da"));
}

TEST(NamesHash, AddFindRemoveIgnoreCase) {
  int freed = 0;
  TNamesHash<TItem> table(1023);
  EXPECT_TRUE(table.Add("Data\\A.dat", std::make_unique<TItem>(1, &freed)));
  // A present key refuses the entry, which is then freed.
  EXPECT_FALSE(table.Add("data\\a.DAT", std::make_unique<TItem>(2, &freed)));
  EXPECT_EQ(freed, 1);
  EXPECT_EQ(table.Count(), 1u);
  ASSERT_NE(table.Find("DATA\\a.dat"), nullptr);
  EXPECT_EQ(table.Find("DATA\\a.dat")->value, 1);
  EXPECT_EQ(table.Find("data\\b.dat"), nullptr);
  EXPECT_TRUE(table.Remove("data\\A.DAT"));
  EXPECT_EQ(freed, 2);
  EXPECT_FALSE(table.Remove("data\\A.DAT"));
  EXPECT_EQ(table.Count(), 0u);
}

TEST(NamesHash, IteratesInInsertionOrderAcrossChainsAndRemovals) {
  int freed = 0;
  // One bucket: every key shares one chain, new ones at its front.
  for (size_t buckets : {size_t(1), size_t(1023)}) {
    TNamesHash<TItem> table(buckets);
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(table.Add("file" + std::to_string(i), std::make_unique<TItem>(i, &freed)));
    for (int i = 0; i < 50; i += 7) ASSERT_TRUE(table.Remove("FILE" + std::to_string(i)));
    table.Add("late", std::make_unique<TItem>(100, &freed));
    std::vector<int> expected;
    for (int i = 0; i < 50; ++i)
      if (i % 7) expected.push_back(i);
    expected.push_back(100);
    EXPECT_EQ(Walk(table), expected) << buckets;
    for (int i = 1; i < 50; i += 7) EXPECT_EQ(table.Find("file" + std::to_string(i))->value, i);
  }
  EXPECT_EQ(freed, 102);
}

TEST(NamesHash, ClearFreesEverythingAndEndsTheWalk) {
  int freed = 0;
  TNamesHash<TItem> table(7);
  for (int i = 0; i < 5; ++i) table.Add(std::to_string(i), std::make_unique<TItem>(i, &freed));
  table.First();
  table.Clear();
  EXPECT_EQ(freed, 5);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_TRUE(table.AtEnd());
  EXPECT_EQ(table.First(), nullptr);
  EXPECT_EQ(table.Find("3"), nullptr);
  EXPECT_TRUE(table.Add("3", std::make_unique<TItem>(3, &freed)));
  EXPECT_EQ(Walk(table), std::vector<int>{3});
}

// The long, similar paths of a large release: the table's own name hash
// gives them a few dozen values, the bucket hash one each.
TEST(NamesHash, SimilarLongNamesSpreadAndSurviveGrowth) {
  auto name = [](int i) {
    char text[80];
    std::snprintf(text, sizeof text, "game\\models\\characters\\textures\\d%04d\\texture_f%06d.dds", i % 1000, i);
    return std::string(text);
  };
  std::vector<uint64_t> hashes;
  for (int i = 0; i < 20000; ++i) hashes.push_back(NamesBucketHashOf(name(i)));
  std::sort(hashes.begin(), hashes.end());
  EXPECT_EQ(std::unique(hashes.begin(), hashes.end()) - hashes.begin(), 20000);
  EXPECT_EQ(NamesBucketHashOf("DATA\\A.DAT"), NamesBucketHashOf("data\\a.dat"));
  EXPECT_NE(NamesBucketHashOf("\x81\x41"), NamesBucketHashOf("\x81\x61"));

  int freed = 0;
  TNamesHash<TItem> table(3);  // grows many times over
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(table.Add(name(i), std::make_unique<TItem>(i, &freed)));
  EXPECT_FALSE(table.Add(name(123), std::make_unique<TItem>(-1, &freed)));
  for (int i = 0; i < 20000; i += 3) ASSERT_TRUE(table.Remove(name(i)));
  std::vector<int> expected;
  for (int i = 0; i < 20000; ++i) {
    std::string upper = name(i);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return std::toupper(c); });
    TItem* found = table.Find(upper);
    if (i % 3 == 0) {
      EXPECT_EQ(found, nullptr) << i;
    } else {
      ASSERT_NE(found, nullptr) << i;
      EXPECT_EQ(found->value, i);
      expected.push_back(i);
    }
  }
  EXPECT_EQ(Walk(table), expected);
  EXPECT_EQ(table.Count(), expected.size());
  table.Clear();
  EXPECT_EQ(freed, 20001);
}
