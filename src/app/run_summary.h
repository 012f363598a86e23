#pragma once

#include <string>
#include <vector>

#include "app/run_report.h"
#include "base/output_sink.h"

namespace zarvik {

// The --summary block: one line per address tested, then one for the run,
// each led by "Summary: " so that none can be taken for a server's line.
//
//   Summary: mx1.example.org [192.0.2.25]: TLSv1.3 TLS_AES_256_GCM_SHA384,
//            trusted yes, name match yes, DANE verified (3 1 1 at depth 0),
//            envelope accepted, 84 ms
//   Summary: run: exit code 0, a host accepted the test
//
// (each on one line).
class RunSummary : public RunReport {
 public:
  static constexpr std::string_view kMark = "Summary: ";

  void probeDone(const ProbeReport& report) override;
  void domainDone(const DomainReport& /*report*/) override {}
  void runFailed(const ErrorReport& report) override;

  // Prints the lines gathered so far and the run's line.
  void print(OutputSink& output, ExitCode exitCode) const;

  // The line of one probe, without the mark.
  static std::string probeLine(const ProbeReport& report);

 private:
  std::vector<std::string> lines_;
};

// The run's outcome in words: "a host accepted the test" ...
std::string_view exitCodeWords(ExitCode exitCode);

}  // namespace zarvik
