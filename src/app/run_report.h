#pragma once

#include <vector>

#include "app/json_lines_output.h"
#include "app/probe_report.h"

namespace zarvik {

// Receives the records of a run, each as soon as it is complete: one per
// address tested, one per domain, or one error before any probe.
class RunReport {
 public:
  virtual ~RunReport() = default;
  virtual void probeDone(const ProbeReport& report) = 0;
  virtual void domainDone(const DomainReport& report) = 0;
  virtual void runFailed(const ErrorReport& report) = 0;
};

// Writes each record as one JSON line (json_report.h).
class JsonRunReport : public RunReport {
 public:
  explicit JsonRunReport(JsonLinesOutput output) : output_(std::move(output)) {}
  void probeDone(const ProbeReport& report) override;
  void domainDone(const DomainReport& report) override;
  void runFailed(const ErrorReport& report) override;

 private:
  JsonLinesOutput output_;
};

// Hands each record to every report in turn.
class RunReports : public RunReport {
 public:
  void add(RunReport& report) { reports_.push_back(&report); }
  bool isEmpty() const { return reports_.empty(); }
  void probeDone(const ProbeReport& report) override;
  void domainDone(const DomainReport& report) override;
  void runFailed(const ErrorReport& report) override;

 private:
  std::vector<RunReport*> reports_;
};

}  // namespace zarvik
