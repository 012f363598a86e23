#include "app/mx_test_options.h"

#include <array>
#include <limits>

#include "app/help.h"
#include "base/character_class.h"
#include "base/decimal_run.h"
#include "base/output_sink.h"
#include "net/transcript_flags.h"

namespace zarvik {

namespace {

enum class Target {
  kDomain,
  kHost,
  kFromAddress,
  kToAddress,
  kPreferIPv4,
  kPreferIPv6,
  kForcedAddress,
  kNameServer,
  kTlsMethod,
  kOutputFile,
  kUseHelo,
  kConnectAll,
  kDnsOverTcp,
  kCertFile,
  kCaFile,
  kCipherList,
};

struct SwitchEntry {
  std::string_view text;  // upper case; matched case-insensitively as a prefix
  Target target;
};

// The order matters: the first prefix that matches decides, which is why
// "-IPV4" and "-IPV6" come before "-IP".
constexpr std::array<SwitchEntry, 16> kSwitches{{
    {"-D", Target::kDomain},
    {"-H", Target::kHost},
    {"-F", Target::kFromAddress},
    {"-T", Target::kToAddress},
    {"-IPV4", Target::kPreferIPv4},
    {"-IPV6", Target::kPreferIPv6},
    {"-IP", Target::kForcedAddress},
    {"-QDNS", Target::kNameServer},
    {"-QTLS", Target::kTlsMethod},
    {"-O", Target::kOutputFile},
    {"-N", Target::kUseHelo},
    {"-A", Target::kConnectAll},
    {"-U", Target::kDnsOverTcp},
    {"-LCF", Target::kCertFile},
    {"-LCA", Target::kCaFile},
    {"-LCL", Target::kCipherList},
}};

}  // namespace

MxTestOptions::MxTestOptions(int argc, const char* const* argv, const SharedString& defaultsPath)
    : CommandLineBase(argc, argv, defaultsPath) {
  for (const SharedString& token : tokens) applyToken(token);
}

void MxTestOptions::applyToken(const SharedString& token) {
  const std::string_view text = token.view();
  if (ExtensionOptions::isLongOption(text)) {
    extensions.apply(text);
    return;
  }
  for (const SwitchEntry& entry : kSwitches) {
    if (!SharedString::startsWith(text, entry.text, true)) continue;
    SharedString value(text.substr(entry.text.size()));
    value.trimBlanks();
    switch (entry.target) {
      case Target::kDomain: domain = value; break;
      case Target::kHost: host = value; break;
      case Target::kFromAddress: fromAddress = value; break;
      case Target::kToAddress: toAddress = value; break;
      case Target::kPreferIPv4: preferIPv4 = true; break;
      case Target::kPreferIPv6: preferIPv6 = true; break;
      case Target::kForcedAddress: forcedAddress = value; break;
      case Target::kNameServer: nameServer = value; break;
      case Target::kTlsMethod: tlsMethod = parseTlsMethod(value.view()); break;
      case Target::kOutputFile: outputFile = value; break;
      case Target::kUseHelo: useHelo = true; break;
      case Target::kConnectAll: connectAll = true; break;
      case Target::kDnsOverTcp: dnsOverTcp = true; break;
      case Target::kCertFile: certFile = value; break;
      case Target::kCaFile: caFile = value; break;
      case Target::kCipherList: cipherList = value; break;
    }
    return;
  }
}

bool MxTestOptions::validate(OutputSink& output) const {
  // A host alone is enough: the driver then tests that host without an MX
  // lookup, as the second help example shows.
  if (!toAddress.isEmpty() || !domain.isEmpty() || !host.isEmpty()) return true;
  output.printLine("");
  output.printLine("Error: No domain or host or From e-mail address given!");
  output.printLine("");
  printHelp(output);
  return false;
}

std::uint64_t MxTestOptions::addressPreference() const {
  std::uint64_t preference = 0;
  if (preferIPv4) preference |= TranscriptFlags::kPreferIPv4;
  if (preferIPv6) preference |= TranscriptFlags::kPreferIPv6;
  return preference;
}

std::int32_t MxTestOptions::parseTlsMethod(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && isWhiteSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  // A number beyond the 32-bit range is refused rather than wrapped into
  // a valid selector.
  constexpr std::uint64_t kLimit = std::uint64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  const DecimalRun run = readDecimalRun(value.substr(i));
  if (run.overflowed || run.value > kLimit) return -1;
  auto number = static_cast<std::int64_t>(run.value);
  if (negative) number = -number;
  if (number > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(number);
}

}  // namespace zarvik
