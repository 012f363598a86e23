#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/json_lines_output.h"
#include "app/run_report.h"

namespace zarvik {

// The records of one target of a batch run, each tagged with its input
// line, held until the target is done: a target cut short by a stop is
// dropped whole, so that --resume takes it up again.
class BatchCollector : public RunReport {
 public:
  BatchCollector(std::uint64_t line, std::string input) : line_(line), input_(std::move(input)) {}

  void probeDone(const ProbeReport& report) override;
  void domainDone(const DomainReport& report) override;
  void runFailed(const ErrorReport& report) override;

  const std::vector<std::string>& lines() const { return lines_; }
  std::uint64_t probes() const { return probes_; }
  std::uint64_t reused() const { return reused_; }
  std::uint64_t domains() const { return domains_; }
  std::uint64_t errors() const { return errors_; }

 private:
  BatchTag tagged(const std::optional<BatchTag>& batch) const;

  std::uint64_t line_;
  std::string input_;
  std::vector<std::string> lines_;
  std::uint64_t probes_ = 0;
  std::uint64_t reused_ = 0;
  std::uint64_t domains_ = 0;
  std::uint64_t errors_ = 0;
};

// The one writer of a batch run: every target's records in one go, under
// one lock, each line in a single write, so that no two targets' records
// interleave and none is cut; and the counts for the meta record.
class BatchWriter {
 public:
  explicit BatchWriter(JsonLinesOutput output) : output_(std::move(output)) {}

  // Writes the target's records and counts them with its exit code.
  void write(const BatchCollector& target, int exitCode);
  // Writes the meta record, its counts filled from what was written; after
  // it nothing more is written.
  void finish(MetaReport& meta);
  bool writeFailed() const;
  std::uint64_t done() const;
  std::uint64_t errorRecords() const;

 private:
  JsonLinesOutput output_;
  mutable std::mutex mutex_;
  bool finished_ = false;
  bool writeFailed_ = false;
  std::uint64_t done_ = 0;
  std::uint64_t domains_ = 0;
  std::uint64_t errors_ = 0;
  std::uint64_t probes_ = 0;
  std::uint64_t reused_ = 0;
  std::map<int, std::uint64_t> exitCodes_;
};

}  // namespace zarvik
