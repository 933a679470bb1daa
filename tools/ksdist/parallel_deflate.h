// Deflating many files on every core: libdeflate on whole files, one compressor per thread, and
// a pool that runs a job per item and hands the results back in the items' order, so that what
// is written never depends on which thread finished first.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// libdeflate's raw deflate of `size` bytes at `level` (1 to 12) when it comes out shorter than
// them; nothing when it does not, and the bytes are better stored.
std::optional<std::string> DeflateWhole(const char* data, size_t size, int level);

// The cores this process may run on.
unsigned UsableCores();

// Runs `job(i)` for every item on all usable cores, starting items in order, and only while the
// results not yet taken weigh (`weights[i]`, about their bytes in memory) no more than `budget`;
// an item heavier than the budget runs when nothing else waits.
template <typename Result>
class OrderedJobs {
 public:
  OrderedJobs(std::vector<uint64_t> weights, uint64_t budget, std::function<Result(size_t)> job)
      : weights_(std::move(weights)),
        budget_(budget),
        job_(std::move(job)),
        slots_(weights_.size()) {
    for (unsigned n = std::min<size_t>(UsableCores(), weights_.size()); n > 0; --n)
      threads_.emplace_back([this] { Work(); });
  }
  // Starts no more items and waits for the running ones.
  ~OrderedJobs() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    mayStart_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  OrderedJobs(const OrderedJobs&) = delete;
  OrderedJobs& operator=(const OrderedJobs&) = delete;

  // Waits for item `index` and returns its result, or throws what its job threw. Items are
  // taken in order, each once.
  Result Take(size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return slots_[index].done; });
    held_ -= weights_[index];
    Slot slot = std::move(slots_[index]);
    lock.unlock();
    mayStart_.notify_all();
    if (slot.error) std::rethrow_exception(slot.error);
    return std::move(*slot.result);
  }

 private:
  struct Slot {
    bool done = false;
    std::optional<Result> result;
    std::exception_ptr error;
  };

  // Items start in order and the taker waits for the earliest, so the budget never stops the
  // item it waits for: when that one has not started, nothing is held.
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      mayStart_.wait(lock, [&] {
        return stopping_ || next_ == weights_.size() || held_ == 0 ||
               held_ + weights_[next_] <= budget_;
      });
      if (stopping_ || next_ == weights_.size()) return;
      size_t index = next_++;
      held_ += weights_[index];
      lock.unlock();
      Slot slot;
      try {
        slot.result.emplace(job_(index));
      } catch (...) {
        slot.error = std::current_exception();
      }
      slot.done = true;
      lock.lock();
      slots_[index] = std::move(slot);
      finished_.notify_all();
    }
  }

  const std::vector<uint64_t> weights_;
  const uint64_t budget_;
  const std::function<Result(size_t)> job_;
  std::mutex mutex_;
  std::condition_variable mayStart_, finished_;
  std::vector<Slot> slots_;
  size_t next_ = 0;
  uint64_t held_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
