#include "app/batch_report.h"

#include "app/json_report.h"

namespace zarvik {

BatchTag BatchCollector::tagged(const std::optional<BatchTag>& batch) const {
  BatchTag tag = batch.value_or(BatchTag{});
  tag.line = line_;
  tag.input = input_;
  return tag;
}

void BatchCollector::probeDone(const ProbeReport& report) {
  ProbeReport copy = report;
  copy.batch = tagged(report.batch);
  ++probes_;
  if (copy.batch->reused) ++reused_;
  lines_.push_back(probeReportLine(copy));
}

void BatchCollector::domainDone(const DomainReport& report) {
  DomainReport copy = report;
  copy.batch = tagged(report.batch);
  ++domains_;
  lines_.push_back(domainReportLine(copy));
}

void BatchCollector::runFailed(const ErrorReport& report) {
  ErrorReport copy = report;
  copy.batch = tagged(report.batch);
  ++errors_;
  lines_.push_back(errorReportLine(copy));
}

void BatchWriter::write(const BatchCollector& target, int exitCode) {
  std::lock_guard lock(mutex_);
  if (finished_) return;
  for (const std::string& line : target.lines()) {
    if (!output_.writeLine(line)) writeFailed_ = true;
  }
  ++done_;
  domains_ += target.domains();
  errors_ += target.errors();
  probes_ += target.probes();
  reused_ += target.reused();
  ++exitCodes_[exitCode];
}

void BatchWriter::finish(MetaReport& meta) {
  std::lock_guard lock(mutex_);
  meta.domainRecords = domains_;
  meta.errorRecords = errors_;
  meta.probeRecords = probes_;
  meta.reusedProbes = reused_;
  meta.exitCodes.assign(exitCodes_.begin(), exitCodes_.end());
  if (writeFailed_ && meta.exitCode == 0) meta.exitCode = 99;
  if (!output_.writeLine(metaReportLine(meta))) writeFailed_ = true;
  finished_ = true;
}

bool BatchWriter::writeFailed() const {
  std::lock_guard lock(mutex_);
  return writeFailed_;
}

std::uint64_t BatchWriter::done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

std::uint64_t BatchWriter::errorRecords() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

}  // namespace zarvik
