#pragma once

namespace zarvik {

// How a run ends, as its process exit code: what the host probe says of one
// host, and what the MX test driver makes of all of them. Smaller is better,
// so the best result over several hosts is the smallest.
enum ExitCode : int {
  kExitAccepted = 0,            // a host accepted the test (and the envelope, when one was tried)
  kExitRefusedPermanently = 1,  // refused for good, or nothing to test (no usable mail host, bad address)
  kExitRefusedTemporarily = 2,  // the best host refused the envelope for now
  kExitNotTested = 99,          // no host could be tested: lookup, connection or dialogue failed
};

// How a run that tests nothing ends, in the numbers users of command-line
// tools expect: 0 after printing what was asked for, 1 for a usage error.
// They share their numbers with the verdicts above.
inline constexpr ExitCode kExitInformationShown = kExitAccepted;      // --help, --version
inline constexpr ExitCode kExitUsageError = kExitRefusedPermanently;  // a faulty extension option; nothing to test

}  // namespace zarvik
