#pragma once

#include <cstdint>

#include "app/command_line_base.h"
#include "app/extension_options.h"
#include "base/output_sink.h"
#include "base/shared_string.h"

namespace zarvik {

// The switches of one run, read from the command line, the defaults file and
// response files. Built once before any network activity and read-only
// afterwards.
class MxTestOptions : public CommandLineBase {
 public:
  // Builds the tokens (see CommandLineBase) and applies each in order.
  MxTestOptions(int argc, const char* const* argv, const SharedString& defaultsPath);

  // Applies one token. The switch texts are compared in a fixed order as
  // case-insensitive prefixes and the first match decides, so "-IPv6..." is
  // taken before "-IP..." and any token starting with "-n", "-a" or "-u"
  // sets that flag. A value is the rest of the token with blanks removed at
  // both ends; a later value replaces an earlier one, a flag once set stays
  // set. Tokens that match no switch (including "-@<file>") are ignored.
  // A token beginning with "--" is never compared with the switch texts: it
  // goes to extensions, which reports unknown ones.
  void applyToken(const SharedString& token);

  // True when the run may go on: a recipient address, a domain or a host was
  // given. Otherwise prints an empty line, the error, an empty line and the
  // help, and returns false.
  bool validate(OutputSink& output) const;

  // The address-family preference handed to the driver, in the layout of
  // TranscriptFlags: the low word is 0, the high word has kPreferIPv4 (0x100)
  // and kPreferIPv6 (0x80) as the switches say (both may be set).
  std::uint64_t addressPreference() const;

  SharedString domain;          // -d
  SharedString host;            // -h
  SharedString fromAddress;     // -f
  SharedString toAddress;       // -t
  SharedString forcedAddress;   // -IP
  SharedString nameServer;      // -qDNS
  SharedString outputFile;      // -o
  SharedString caFile;          // -lCA
  SharedString certFile;        // -lCF
  SharedString cipherList;      // -lCL
  std::int32_t tlsMethod = 0;   // -QTLS
  bool useHelo = false;         // -n
  bool connectAll = false;      // -a
  bool dnsOverTcp = false;      // -u
  bool preferIPv4 = false;      // -IPv4
  bool preferIPv6 = false;      // -IPv6
  ExtensionOptions extensions;  // --help, --version, --timeout

  // Reads the number of "-QTLS": white space skipped, an optional sign, then
  // decimal digits up to the first non-digit; no digits gives 0. A number
  // outside the 32-bit range gives -1, which names no protocol.
  static std::int32_t parseTlsMethod(std::string_view value);
};

}  // namespace zarvik
