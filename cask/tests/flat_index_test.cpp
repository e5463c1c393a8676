// The index against std::map under random inserts, overwrites and erasures,
// small enough that probe runs collide and wrap around the array's end.
#include "flat_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using cask::FlatIndex;

void expectSame(const FlatIndex<int>& index, const std::map<std::string, int>& model) {
  ASSERT_EQ(index.size(), model.size());
  std::map<std::string, int> walked;
  for (const auto& [key, value] : index) walked.emplace(key, value);
  ASSERT_EQ(walked, model);
  for (const auto& [key, value] : model) {
    const int* found = index.find(key);
    ASSERT_NE(found, nullptr) << key;
    ASSERT_EQ(*found, value) << key;
  }
}

TEST(FlatIndexTest, RandomEditsMatchAnOrderedMap) {
  for (const int keySpace : {5, 40, 3000}) {
    std::mt19937 random(static_cast<unsigned>(keySpace));
    FlatIndex<int> index;
    std::map<std::string, int> model;
    for (int step = 0; step < 20000; ++step) {
      // Long keys too: those live outside std::string's inline buffer.
      const int n = static_cast<int>(random() % keySpace);
      const std::string key = n % 3 == 0 ? "a-much-longer-key-that-allocates-" + std::to_string(n) : std::to_string(n);
      if (random() % 3 == 0) {
        ASSERT_EQ(index.erase(key), model.erase(key)) << key;
      } else {
        index.insert_or_assign(std::string(key), step);
        model[key] = step;
      }
      if (step % 997 == 0) expectSame(index, model);
    }
    expectSame(index, model);
    for (int n = 0; n < keySpace; ++n) EXPECT_EQ(index.contains(std::to_string(n)), model.contains(std::to_string(n)));
  }
}

TEST(FlatIndexTest, ReserveClearAndSwapKeepEntriesWhereTheyBelong) {
  FlatIndex<int> index;
  index.reserve(1000);
  for (int i = 0; i < 1000; ++i) index.insert_or_assign(std::to_string(i), i);
  FlatIndex<int> other;
  other.insert_or_assign(std::string("x"), 1);
  index.swap(other);
  EXPECT_EQ(index.size(), 1u);
  ASSERT_EQ(other.size(), 1000u);
  EXPECT_EQ(*other.find("999"), 999);
  EXPECT_EQ(other.find("1000"), nullptr);
  other.clear();
  EXPECT_TRUE(other.empty());
  EXPECT_EQ(other.begin(), other.end());
  EXPECT_EQ(other.find("1"), nullptr);
  EXPECT_EQ(other.erase("1"), 0u);
  other.insert_or_assign(std::string("again"), 2);
  EXPECT_EQ(*other.find("again"), 2);
}

TEST(FlatIndexTest, ArenaBytesStayPutThroughSwapsUntilClear) {
  FlatIndex<int> index;
  std::vector<uint8_t*> given;
  // Past one block, and one allocation larger than a block.
  for (int i = 0; i < 3000; ++i) {
    given.push_back(index.arena().allocate(40));
    std::memset(given.back(), i & 0xff, 40);
  }
  uint8_t* large = index.arena().allocate(200000);
  std::memset(large, 0xab, 200000);
  FlatIndex<int> other;
  index.swap(other);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(given[static_cast<size_t>(i)][39], i & 0xff) << i;
  EXPECT_EQ(large[199999], 0xab);
  other.clear();  // frees them; the sanitizer build sees any later use
  EXPECT_NE(other.arena().allocate(1), nullptr);
}

}  // namespace
