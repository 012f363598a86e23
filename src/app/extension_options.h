#pragma once

#include <cstdint>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// The options that extend the classic switches, in the GNU long form:
// "--name", "--name=value" or "--name value". No classic switch name begins
// with "--", so these never change what a classic switch means. Unlike an
// unknown classic switch, an unknown or malformed long option is an error:
// a user who writes "--timout=5" must learn that nothing bounds the run.
class ExtensionOptions {
 public:
  // The range of --timeout, in seconds. The upper end is the classic bound
  // of every SMTP wait, which the option can only lower.
  static constexpr std::uint32_t kMinTimeoutSeconds = 1;
  static constexpr std::uint32_t kMaxTimeoutSeconds = 300;
  // Submission with TLS from the first byte (RFC 8314 section 7.3).
  static constexpr std::uint16_t kImplicitTlsPort = 465;

  // What the program does instead of the test.
  enum class Action { kTest, kHelp, kVersion };

  // True for a token of the long form: one beginning with "--".
  static bool isLongOption(std::string_view token);

  // Takes one long-form token as the classic tokeniser cut it, so a trailing
  // blank (before the next switch) and the blank of "--name value" may be in
  // it; blanks around the name and the value do not count. The first fault
  // is kept in errorLine and later tokens change nothing. A --timeout given
  // again replaces the earlier value, as classic switches do.
  void apply(std::string_view token);

  bool hasError() const { return !errorLine_.isEmpty(); }
  // The line to print for the first faulty option, "Error: ..."; empty when
  // every option was valid.
  const SharedString& errorLine() const { return errorLine_; }
  // The same line with the place of the faulty token after "Error: ", as
  // "Error: /etc/zarvik/zarvik.def line 3: --timeout needs ..."; without an
  // origin (a token of the command line) errorLine() itself.
  SharedString errorLine(const SharedString& origin) const;
  // The token, as given to apply(), of the first fault; empty without one.
  const SharedString& faultyToken() const { return faultyToken_; }
  // The first of --help and --version given; kTest when neither was.
  Action action() const { return action_; }
  // The --timeout in milliseconds; 0 when none was given.
  std::uint32_t timeoutMs() const { return timeoutSeconds_ * 1000; }
  // --json: the JSON Lines report instead of the transcript on standard
  // output, or with a file (--json=FILE) appended to it beside the
  // transcript.
  bool json() const { return json_; }
  const SharedString& jsonFile() const { return jsonFile_; }
  // --port: the SMTP port instead of 25; 0 when none was given.
  std::uint16_t port() const { return port_; }
  // --tls-on-connect, or --port=465 (RFC 8314 section 3.3): TLS from the
  // first byte instead of STARTTLS.
  bool tlsOnConnect() const { return tlsOnConnect_ || port_ == kImplicitTlsPort; }
  // --protocols: after each probe, the TLS versions the server accepts.
  bool protocols() const { return protocols_; }
  // --tls-rpt: the domain's TLS-RPT record (RFC 8460); --mta-sts asks
  // for it too, since a policy's failures are reported there.
  bool tlsRpt() const { return tlsRpt_ || mtaSts(); }
  // --mta-sts: the domain's MTA-STS policy (RFC 8461) and each probe under
  // it; --mta-sts-ca=FILE asks for it too, with FILE as the trust store.
  bool mtaSts() const { return mtaSts_ || !mtaStsCa_.isEmpty(); }
  const SharedString& mtaStsCa() const { return mtaStsCa_; }
  // --summary: a block for people after the transcript.
  bool summary() const { return summary_; }

  // Batch mode: --batch=FILE ("-": standard input) tests one target per
  // line and writes the JSON Lines report alone.
  static constexpr std::uint32_t kDefaultJobs = 32;
  static constexpr std::uint32_t kMaxJobs = 4096;
  static constexpr std::uint32_t kDefaultPerAddress = 2;
  static constexpr std::uint32_t kMaxPerAddress = 64;
  bool batch() const { return !batchFile_.isEmpty(); }
  const SharedString& batchFile() const { return batchFile_; }
  // --jobs: targets in flight at once.
  std::uint32_t jobs() const { return jobs_ != 0 ? jobs_ : kDefaultJobs; }
  // --per-address: sessions at once to one destination address.
  std::uint32_t perAddress() const { return perAddress_ != 0 ? perAddress_ : kDefaultPerAddress; }
  // --shard=I/N: only the targets whose hash is I modulo N; count 0 without.
  std::uint32_t shardIndex() const { return shardIndex_; }
  std::uint32_t shardCount() const { return shardCount_; }
  // --resume=FILE: an earlier report whose targets are skipped.
  const SharedString& resumeFile() const { return resumeFile_; }
  // The first batch-only option given without --batch, as "--jobs"; empty
  // when there is none.
  SharedString batchOptionWithoutBatch() const;

 private:
  void applyLongOption(std::string_view token);
  void fail(const SharedString& line);
  void takeTimeout(std::string_view value, bool hasValue);
  void takePort(std::string_view value);
  void takeCount(const SharedString& dashed, std::string_view value, std::uint32_t maximum, std::uint32_t& count);
  void takeShard(std::string_view value);
  void takeFile(const SharedString& dashed, std::string_view value, SharedString& file);

  Action action_ = Action::kTest;
  std::uint32_t timeoutSeconds_ = 0;
  bool json_ = false;
  SharedString jsonFile_;
  bool summary_ = false;
  std::uint16_t port_ = 0;
  bool tlsOnConnect_ = false;
  bool protocols_ = false;
  bool tlsRpt_ = false;
  SharedString batchFile_;
  std::uint32_t jobs_ = 0;
  std::uint32_t perAddress_ = 0;
  std::uint32_t shardIndex_ = 0;
  std::uint32_t shardCount_ = 0;
  SharedString resumeFile_;
  bool mtaSts_ = false;
  SharedString mtaStsCa_;
  SharedString errorLine_;
  SharedString faultyToken_;
};

}  // namespace zarvik
