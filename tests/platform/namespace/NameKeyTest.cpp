// Prepared name keys never contradict the name order they stand in for.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/namespace/NameCompare.h"

TEST(NameKeyTest, KeysThatDifferOrderNamesAsTheComparison) {
  const std::vector<std::string> pieces = {
      "a", "B", "z",    "_",    " ",    ".",    "!",    "~", "0", "00", "1", "9", "10", "007", "123456789012",
      "Ä", "é", "日本", "\xff", "\xc3", "file", "File", "-"};
  std::mt19937 random(7);
  std::vector<std::string> names;
  for (int i = 0; i < 1500; ++i) {
    std::string name;
    const int parts = 1 + static_cast<int>(random() % 6);
    for (int p = 0; p < parts; ++p) name += pieces[random() % pieces.size()];
    names.push_back(name);
  }
  names.push_back(std::string(300, '7'));
  names.push_back(std::string(300, '7') + "a");
  names.push_back(std::string(254, '9'));
  int decided = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const NameKey a = MakeNameKey(names[i]);
    for (size_t j = 0; j < names.size(); ++j) {
      const int byKey = CompareNameKeys(a, MakeNameKey(names[j]));
      if (byKey == 0) continue;
      ++decided;
      ASSERT_EQ(byKey, CompareNames(names[i], names[j])) << '"' << names[i] << "\" vs \"" << names[j] << '"';
    }
  }
  // Most pairs are told apart by their keys alone.
  EXPECT_GT(decided, static_cast<int>(names.size() * names.size() / 2));
}

TEST(NameKeyTest, NamesOfOneStemAndNumbersDifferInTheirKeys) {
  EXPECT_LT(CompareNameKeys(MakeNameKey("file_0000009.txt"), MakeNameKey("file_0000010.txt")), 0);
  EXPECT_LT(CompareNameKeys(MakeNameKey("IMG_2.jpg"), MakeNameKey("img_10.jpg")), 0);
  EXPECT_EQ(CompareNameKeys(MakeNameKey("ABC"), MakeNameKey("abc")), 0);  // left to the bytes
}
