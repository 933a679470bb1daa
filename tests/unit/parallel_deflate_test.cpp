// ksdist's deflating on every core: the pool hands results back in the items' order however
// the threads finish, gives an error back at its own item, keeps within its memory budget yet
// runs an item heavier than the budget; a whole-file deflate inflates back to the file, and a
// file that would not shrink is left to be stored.
#include "parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "support/sample_data.h"

namespace {

std::string RawInflate(const std::string& deflated, size_t size) {
  z_stream z = {};
  inflateInit2(&z, -15);
  std::string out(size + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

TEST(OrderedJobs, ResultsComeInOrderWithinTheBudgetAndErrorsAtTheirItem) {
  constexpr size_t kItems = 40;
  constexpr uint64_t kBudget = 30;
  std::vector<uint64_t> weights(kItems, 10);
  weights[7] = 1000;  // more than the whole budget: runs once nothing else is held
  std::atomic<int64_t> held{0};
  std::atomic<int> overBudget{0};
  OrderedJobs<size_t> jobs(weights, kBudget, [&](size_t i) {
    int64_t now = held += static_cast<int64_t>(weights[i]);
    if (now > static_cast<int64_t>(kBudget) && weights[i] <= kBudget) ++overBudget;
    // Later items finish sooner than earlier ones.
    std::this_thread::sleep_for(std::chrono::milliseconds((kItems - i) % 4));
    if (i == 13) throw std::runtime_error("item 13");
    return i * i;
  });
  for (size_t i = 0; i < kItems; ++i) {
    // A slow taker: without the budget the threads would run far ahead of it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    held -= static_cast<int64_t>(weights[i]);
    if (i == 13) {
      EXPECT_THROW(jobs.Take(i), std::runtime_error);
      continue;
    }
    EXPECT_EQ(jobs.Take(i), i * i);
  }
  EXPECT_EQ(overBudget, 0);
}

TEST(DeflateWhole, InflatesBackOrLeavesTheFileToBeStored) {
  std::vector<uint8_t> text = sample_data::Make(sample_data::Kind::kText, 100000, 1);
  std::vector<uint8_t> noise = sample_data::Make(sample_data::Kind::kRandom, 4096, 2);
  struct Case {
    std::string data;
    bool shrinks;
  } cases[] = {{"", false},
               {"a", false},
               {std::string(noise.begin(), noise.end()), false},
               {std::string(text.begin(), text.end()), true},
               {std::string(1 << 16, 'z'), true}};
  for (const Case& c : cases)
    for (int level : {1, 9, 12}) {
      std::optional<std::string> deflated = DeflateWhole(c.data.data(), c.data.size(), level);
      ASSERT_EQ(deflated.has_value(), c.shrinks) << c.data.size() << " bytes, level " << level;
      if (deflated) {
        EXPECT_LT(deflated->size(), c.data.size());
        EXPECT_EQ(RawInflate(*deflated, c.data.size()), c.data);
      }
    }
}

}  // namespace
