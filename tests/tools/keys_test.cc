// Key text conversion, key order and key sources.
#include <gtest/gtest.h>

#include <cstdio>

#include "builder/builder.h"

using namespace jbbbuilder;

namespace {

TEST(Utf8, DecodesToUnitsWithSurrogatePairs) {
  Key k;
  std::string error;
  ASSERT_TRUE(utf8ToKey("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", &k, &error)) << error;
  EXPECT_EQ((Key{u'a', 0x00E9, 0x65E5, 0xD83D, 0xDE00}), k);
  EXPECT_EQ("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", keyToUtf8(k));
}

TEST(Utf8, RefusesMalformedText) {
  Key k;
  std::string error;
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\x80",
                          "\xFF", "a\xC3"}) {
    EXPECT_FALSE(utf8ToKey(bad, &k, &error)) << bad;
  }
  EXPECT_FALSE(utf8ToKey(std::string("a\0b", 3), &k, &error));
}

TEST(Utf8, UnpairedSurrogateShowsAsReplacement) {
  EXPECT_EQ("x\xEF\xBF\xBDy", keyToUtf8(Key{u'x', 0xD800, u'y'}));
}

TEST(KeyOrder, UnsignedUnitsNotCodePoints) {
  Key ascii = K("z"), high = Key{0x8000}, fullwidth = Key{0xFF21}, emoji = K("\xF0\x9F\x98\x80");
  EXPECT_LT(compareKeys(ascii, high), 0);
  // U+1F600 is above U+FF21, but its first unit 0xD83D is below 0xFF21.
  EXPECT_LT(compareKeys(emoji, fullwidth), 0);
  EXPECT_LT(compareKeys(K("abc"), K("abcd")), 0);
  EXPECT_LT(compareKeys(K("ABC"), K("abc")), 0);
  EXPECT_EQ(0, compareKeys(K("abc"), K("abc")));

  std::vector<Key> keys = {fullwidth, emoji, high, ascii};
  std::string error;
  ASSERT_TRUE(sortKeys(&keys, false, &error));
  EXPECT_EQ((std::vector<Key>{ascii, high, emoji, fullwidth}), keys);
}

TEST(KeyOrder, TreeOfHighUnitsIsWellFormed) {
  std::vector<Key> keys = syntheticPaths(500, 4, u"/data", true);
  std::string error;
  ASSERT_TRUE(sortKeys(&keys, false, &error));
  TreeNode root;
  ASSERT_TRUE(bulkLoad(entriesFor(keys, 32), BulkOptions(), &root, &error)) << error;
  BuiltImage image;
  ASSERT_TRUE(buildImage(root, DbSpec(), &image, &error)) << error;
  CheckResult r = checkImage(image.bytes);
  EXPECT_TRUE(r.ok()) << r.report();
  ASSERT_EQ(keys.size(), r.entries.size());
  bool sawPair = false, sawHigh = false;
  for (const Key& k : keys) {
    for (char16_t u : k) {
      sawPair |= u >= 0xD800 && u <= 0xDBFF;
      sawHigh |= u >= 0x8000;
    }
  }
  EXPECT_TRUE(sawPair);
  EXPECT_TRUE(sawHigh);
}

TEST(SyntheticPaths, DeterministicAndDistinct) {
  std::vector<Key> a = syntheticPaths(2000, 9), b = syntheticPaths(2000, 9);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, syntheticPaths(2000, 10));
  std::string error;
  EXPECT_TRUE(sortKeys(&a, false, &error)) << error;
  EXPECT_EQ(0u, a[0].find(u"/home/"));
}

TEST(KeyFile, OneKeyPerLine) {
  std::string path = ::testing::TempDir() + "keys_test_keys.txt";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("\xEF\xBB\xBF/a/b\r\n\n/c d/\xC3\xA9\n/last", f);
  std::fclose(f);
  std::vector<Key> keys;
  std::string error;
  ASSERT_TRUE(readKeyFile(path, &keys, &error)) << error;
  EXPECT_EQ((std::vector<Key>{K("/a/b"), K("/c d/\xC3\xA9"), K("/last")}), keys);

  f = std::fopen(path.c_str(), "wb");
  std::fputs("good\nbad\xC3\n", f);
  std::fclose(f);
  EXPECT_FALSE(readKeyFile(path, &keys, &error));
  EXPECT_NE(std::string::npos, error.find(":2:")) << error;
  std::remove(path.c_str());
  EXPECT_FALSE(readKeyFile(path, &keys, &error));
}

}  // namespace
