#include "app/probe_cache.h"

#include <chrono>

#include "base/run_flag.h"

namespace zarvik {

std::shared_ptr<ProbeCache::Entry> ProbeCache::claim(const std::string& key, bool& owner) {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(key);
  if (found != entries_.end() && !(found->second->done && !found->second->usable)) {
    owner = false;
    return found->second;
  }
  // A new key, or one whose probe was cut short: this caller probes.
  owner = true;
  auto entry = std::make_shared<Entry>();
  if (found != entries_.end()) {
    found->second = entry;
  } else {
    evictIfFull();
    entries_.emplace(key, entry);
    order_.push_back(key);
  }
  return entry;
}

void ProbeCache::finish(const std::shared_ptr<Entry>& entry, ExitCode exitCode, const ProbeReport& report,
                        bool usable) {
  {
    std::lock_guard lock(mutex_);
    entry->exitCode = exitCode;
    entry->report = report;
    entry->usable = usable;
    entry->done = true;
  }
  finished_.notify_all();
}

bool ProbeCache::await(const std::shared_ptr<Entry>& entry) {
  std::unique_lock lock(mutex_);
  while (!entry->done) {
    if (!runAllowed()) return false;
    finished_.wait_for(lock, std::chrono::milliseconds(100));
  }
  return entry->usable;
}

std::size_t ProbeCache::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void ProbeCache::evictIfFull() {
  // Only finished entries go: a waiter holds the others, and their owner
  // must still find them to finish.
  for (std::size_t scanned = 0; entries_.size() >= capacity_ && scanned < order_.size();) {
    const std::string key = order_.front();
    order_.pop_front();
    auto found = entries_.find(key);
    if (found != entries_.end() && !found->second->done) {
      order_.push_back(key);
      ++scanned;
      continue;
    }
    if (found != entries_.end()) entries_.erase(found);
  }
}

}  // namespace zarvik
