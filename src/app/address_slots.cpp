#include "app/address_slots.h"

#include <algorithm>
#include <chrono>

#include "base/run_flag.h"

namespace zarvik {

bool AddressSlots::acquire(const std::string& destination) {
  std::unique_lock lock(mutex_);
  // Looked up again after every wait: release() drops an idle entry, and a
  // waiter does not count as open.
  while (true) {
    Destination& entry = destinations_[destination];
    if (entry.open < limitOf(entry)) {
      ++entry.open;
      peak_ = std::max(peak_, entry.open);
      return true;
    }
    // A stop is a flag, not a notification: look at it every 100 ms.
    if (!runAllowed()) return false;
    freed_.wait_for(lock, std::chrono::milliseconds(100));
  }
}

void AddressSlots::release(const std::string& destination) {
  {
    std::lock_guard lock(mutex_);
    auto found = destinations_.find(destination);
    if (found == destinations_.end() || found->second.open == 0) return;
    --found->second.open;
    // An idle entry goes, so that a list of millions of domains keeps only
    // the destinations in use; a throttled mark must outlive its sessions.
    if (found->second.open == 0 && !found->second.throttled) destinations_.erase(found);
  }
  freed_.notify_all();
}

void AddressSlots::markThrottled(const std::string& destination) {
  std::lock_guard lock(mutex_);
  destinations_[destination].throttled = true;
}

std::uint32_t AddressSlots::peak() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

}  // namespace zarvik
