#include "app/extension_options.h"

#include "base/decimal_run.h"

namespace zarvik {

namespace {

constexpr std::string_view kLongPrefix = "--";

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The parts of one long option: its name, and its value when a "=" or a
// blank followed the name.
struct LongOption {
  std::string_view name;
  std::string_view value;
  bool hasValue = false;
};

LongOption splitLongOption(std::string_view token) {
  token = trimBlanks(token);
  token.remove_prefix(kLongPrefix.size());
  const std::size_t end = token.find_first_of("= ");
  if (end == std::string_view::npos) return {token, {}, false};
  return {token.substr(0, end), trimBlanks(token.substr(end + 1)), true};
}

// Reads a whole number of seconds within the --timeout range; false for
// anything else (a sign, a unit, a fraction, no digits).
bool parseTimeoutSeconds(std::string_view value, std::uint32_t& seconds) {
  const DecimalRun run = readDecimalRun(value);
  if (run.length == 0 || run.length != value.size() || run.overflowed ||
      run.value < ExtensionOptions::kMinTimeoutSeconds || run.value > ExtensionOptions::kMaxTimeoutSeconds) {
    return false;
  }
  seconds = static_cast<std::uint32_t>(run.value);
  return true;
}

}  // namespace

bool ExtensionOptions::isLongOption(std::string_view token) { return token.starts_with(kLongPrefix); }

void ExtensionOptions::apply(std::string_view token) {
  if (hasError() || !isLongOption(token)) return;
  applyLongOption(token);
  // Only this token can have brought the first fault.
  if (hasError()) faultyToken_ = SharedString(token);
}

void ExtensionOptions::applyLongOption(std::string_view token) {
  const LongOption option = splitLongOption(token);
  const SharedString dashed = SharedString(kLongPrefix) + SharedString(option.name);
  if (option.name == "timeout") {
    takeTimeout(option.value, option.hasValue);
    return;
  }
  if (option.name == "json") {
    // "--json" alone writes the report to standard output.
    json_ = true;
    jsonFile_ = SharedString(option.value);
    return;
  }
  if (option.name == "port") {
    takePort(option.value);
    return;
  }
  if (option.name == "batch" || option.name == "resume") {
    takeFile(dashed, option.value, option.name == "batch" ? batchFile_ : resumeFile_);
    return;
  }
  if (option.name == "jobs" || option.name == "per-address") {
    const bool jobs = option.name == "jobs";
    takeCount(dashed, option.value, jobs ? kMaxJobs : kMaxPerAddress, jobs ? jobs_ : perAddress_);
    return;
  }
  if (option.name == "shard") {
    takeShard(option.value);
    return;
  }
  if (option.name == "mta-sts-ca") {
    if (option.value.empty()) {
      fail("Error: --mta-sts-ca needs a file of PEM certificates");
      return;
    }
    mtaStsCa_ = SharedString(option.value);
    return;
  }
  if (option.name == "tls-on-connect" || option.name == "protocols" || option.name == "tls-rpt" ||
      option.name == "mta-sts") {
    if (option.hasValue) {
      fail("Error: option " + dashed + " takes no value");
      return;
    }
    bool& flag = option.name == "protocols" ? protocols_
                 : option.name == "tls-rpt" ? tlsRpt_
                 : option.name == "mta-sts" ? mtaSts_
                                            : tlsOnConnect_;
    flag = true;
    return;
  }
  if (option.name == "summary") {
    if (option.hasValue) {
      fail("Error: option " + dashed + " takes no value");
      return;
    }
    summary_ = true;
    return;
  }
  const bool help = option.name == "help";
  if (!help && option.name != "version") {
    fail("Error: unknown option " + dashed);
    return;
  }
  if (option.hasValue) {
    fail("Error: option " + dashed + " takes no value");
    return;
  }
  if (action_ == Action::kTest) action_ = help ? Action::kHelp : Action::kVersion;
}

void ExtensionOptions::takeTimeout(std::string_view value, bool hasValue) {
  std::uint32_t seconds = 0;
  if (parseTimeoutSeconds(value, seconds)) {
    timeoutSeconds_ = seconds;
    return;
  }
  SharedString line = "Error: --timeout needs a whole number of seconds from 1 to 300";
  if (hasValue && !value.empty()) line += ", not \"" + SharedString(value) + "\"";
  fail(line);
}

void ExtensionOptions::takePort(std::string_view value) {
  const DecimalRun run = readDecimalRun(value);
  if (run.length != 0 && run.length == value.size() && !run.overflowed && run.value >= 1 && run.value <= 65535) {
    port_ = static_cast<std::uint16_t>(run.value);
    return;
  }
  SharedString line = "Error: --port needs a port number from 1 to 65535";
  if (!value.empty()) line += ", not \"" + SharedString(value) + "\"";
  fail(line);
}

void ExtensionOptions::takeCount(const SharedString& dashed, std::string_view value, std::uint32_t maximum,
                                 std::uint32_t& count) {
  const DecimalRun run = readDecimalRun(value);
  if (run.length != 0 && run.length == value.size() && !run.overflowed && run.value >= 1 && run.value <= maximum) {
    count = static_cast<std::uint32_t>(run.value);
    return;
  }
  SharedString line = "Error: " + dashed + " needs a whole number from 1 to " + SharedString::fromInteger(maximum);
  if (!value.empty()) line += ", not \"" + SharedString(value) + "\"";
  fail(line);
}

// "I/N": shard I of N, from 0.
void ExtensionOptions::takeShard(std::string_view value) {
  const std::size_t slash = value.find('/');
  const std::string_view index = value.substr(0, slash);
  const std::string_view count = slash == std::string_view::npos ? std::string_view() : value.substr(slash + 1);
  const DecimalRun i = readDecimalRun(index);
  const DecimalRun n = readDecimalRun(count);
  constexpr std::uint64_t kMaxShards = 1000000;
  if (i.length != 0 && i.length == index.size() && n.length != 0 && n.length == count.size() && !i.overflowed &&
      !n.overflowed && n.value >= 1 && n.value <= kMaxShards && i.value < n.value) {
    shardIndex_ = static_cast<std::uint32_t>(i.value);
    shardCount_ = static_cast<std::uint32_t>(n.value);
    return;
  }
  SharedString line = "Error: --shard needs I/N, a shard I from 0 to N-1 of N from 1 to 1000000";
  if (!value.empty()) line += ", not \"" + SharedString(value) + "\"";
  fail(line);
}

void ExtensionOptions::takeFile(const SharedString& dashed, std::string_view value, SharedString& file) {
  if (value.empty()) {
    fail("Error: " + dashed + " needs a file name");
    return;
  }
  file = SharedString(value);
}

SharedString ExtensionOptions::batchOptionWithoutBatch() const {
  if (batch()) return {};
  if (jobs_ != 0) return "--jobs";
  if (perAddress_ != 0) return "--per-address";
  if (shardCount_ != 0) return "--shard";
  if (!resumeFile_.isEmpty()) return "--resume";
  return {};
}

SharedString ExtensionOptions::errorLine(const SharedString& origin) const {
  constexpr std::string_view kErrorPrefix = "Error: ";
  if (!hasError() || origin.isEmpty()) return errorLine_;
  std::string_view message = errorLine_.view();
  if (message.starts_with(kErrorPrefix)) message.remove_prefix(kErrorPrefix.size());
  return SharedString(kErrorPrefix) + origin + ": " + SharedString(message);
}

void ExtensionOptions::fail(const SharedString& line) {
  if (!hasError()) errorLine_ = line;
}

}  // namespace zarvik
