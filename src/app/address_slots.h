#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zarvik {

// How many sessions a batch run holds open to one destination at once
// (--per-address). Receivers that see more from one client answer "421
// Too many connections" or block it; one that did answer 421 is marked
// throttled and gets one session at a time for the rest of the run.
class AddressSlots {
 public:
  explicit AddressSlots(std::uint32_t perAddress) : perAddress_(perAddress == 0 ? 1 : perAddress) {}

  // Waits for a free slot of destination ("192.0.2.25 25"); false, taking
  // none, when a stop was requested (RunFlag) while waiting.
  bool acquire(const std::string& destination);
  void release(const std::string& destination);
  void markThrottled(const std::string& destination);
  // The most sessions ever open at once to one destination: for the tests.
  std::uint32_t peak() const;

 private:
  struct Destination {
    std::uint32_t open = 0;
    bool throttled = false;
  };
  std::uint32_t limitOf(const Destination& destination) const { return destination.throttled ? 1 : perAddress_; }

  const std::uint32_t perAddress_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::unordered_map<std::string, Destination> destinations_;
  std::uint32_t peak_ = 0;
};

// Holds a slot for as long as it lives.
class AddressSlot {
 public:
  AddressSlot(AddressSlots& slots, std::string destination)
      : slots_(slots), destination_(std::move(destination)), held_(slots_.acquire(destination_)) {}
  ~AddressSlot() {
    if (held_) slots_.release(destination_);
  }
  AddressSlot(const AddressSlot&) = delete;
  AddressSlot& operator=(const AddressSlot&) = delete;

  bool held() const { return held_; }

 private:
  AddressSlots& slots_;
  std::string destination_;
  bool held_;
};

}  // namespace zarvik
