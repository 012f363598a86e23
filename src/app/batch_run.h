#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/exit_code.h"
#include "app/mx_test_driver.h"
#include "base/output_sink.h"

namespace zarvik {

// A batch run (--batch): the targets of a list, one per line, tested
// --jobs at a time by a bounded pool of threads, each running the classic
// test of one target on state of its own; the records go to one writer.
struct BatchSettings {
  std::string input;   // a file, or "-" for standard input
  std::string resume;  // an earlier report whose targets are skipped; empty: none
  std::uint32_t jobs = 32;
  std::uint32_t perAddress = 2;
  std::uint32_t shardIndex = 0;
  std::uint32_t shardCount = 0;  // 0: every line
  std::string jsonFile;          // empty: standard output
  std::vector<std::string> commandLine;
  // The switches every target shares (-f, --timeout, -qDNS ...); each line
  // supplies the domain or the recipient.
  MxTestRequest base;
};

// Runs the batch and returns its exit code: kExitAccepted (0) when every
// target got its record, 1 for an input or resume file that cannot be read
// or a run cut short by a stop (the records of finished targets and the
// meta record are written all the same), kExitNotTested (99) when a record
// could not be written or the input could not be read to its end. Lines for
// people (an unreadable file) go to output; progress goes to standard
// error.
ExitCode runBatch(const BatchSettings& settings, OutputSink& output);

// The progress line: "Batch: 1200 of 10000 done, 240.0/s, 3 errors, about
// 37 s left", without the total and the time left when the total is not
// known (standard input).
std::string batchProgressLine(std::uint64_t done, std::uint64_t total, double seconds, std::uint64_t errors);

}  // namespace zarvik
