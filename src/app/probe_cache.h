#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "app/exit_code.h"
#include "app/probe_report.h"

namespace zarvik {

// The probes of a batch run, by mail host name, address and port: the
// domains of one provider share its MX hosts, and each (host, address,
// port) is probed once and its result reused. Bounded: past capacity the
// oldest finished entry goes. Safe to use from every worker at once.
class ProbeCache {
 public:
  struct Entry {
    bool done = false;
    bool usable = false;  // the probe finished and was not cut short by a stop
    ExitCode exitCode = kExitNotTested;
    ProbeReport report;
  };

  explicit ProbeCache(std::size_t capacity) : capacity_(capacity) {}

  // The entry of key. owner is true for the first caller, who must probe
  // and then call finish(); every other caller gets the same entry and
  // waits for it with await().
  std::shared_ptr<Entry> claim(const std::string& key, bool& owner);
  void finish(const std::shared_ptr<Entry>& entry, ExitCode exitCode, const ProbeReport& report, bool usable);
  // Waits until the entry is done; false when a stop was requested first.
  bool await(const std::shared_ptr<Entry>& entry);

  std::size_t size() const;

 private:
  void evictIfFull();

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  std::unordered_map<std::string, std::shared_ptr<Entry>> entries_;
  std::deque<std::string> order_;  // keys, oldest first
};

}  // namespace zarvik
