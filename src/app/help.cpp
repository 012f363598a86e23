#include "app/help.h"

#include "app/version.h"
#include "base/output_sink.h"

namespace zarvik {

const std::array<std::string_view, 27> kHelpLines{{
    "Zarvik v" ZARVIK_SHORT_VERSION " uses the following switches:",
    "",
    "-d<domain>           Recipients domain",
    "",
    "-f<from>             From e-mail address",
    "-t<to>               To e-mail address",
    "-h<host>             Recipients host",
    "",
    "-n                   Use SMTP rather than ESMTP",
    "-a                   Connect to all MX hosts",
    "",
    "-lCF<File>           TLS Certificate PEM file for mutual authentication",
    "-lCA<File>           TLS Certificate authority PEM file",
    "-lCL<File>           TLS Ciper List",
    "",
    "-qDNS<IPAddress>     Use DNS server at IP address",
    "-u                   Use tcp rather than udp for DNS queries",
    "",
    "-IPv6                Prefer IPv6 over IPv4",
    "-IPv4                Prefer IPv4 over IPv6",
    "",
    "-o<file>             Write output to file",
    "",
    "Examples:",
    "Zarvik -dexample.org",
    "Zarvik -hmail.example.org",
    "Zarvik -tuser@example.org -fsender@example.net",
}};

const std::array<std::string_view, 18> kExtensionHelpLines{{
    "",
    "Extension options:",
    "--help               Print this help and exit",
    "--version            Print the version and exit",
    "--timeout=<seconds>  Give up each SMTP wait after 1 to 300 seconds",
    "--json[=<file>]      Write the JSON Lines report to standard output or a file",
    "--summary            Print a summary of each host and of the run at the end",
    "--port=<number>      Connect to this port instead of 25 (465 implies --tls-on-connect)",
    "--tls-on-connect     Start TLS before the greeting instead of with STARTTLS",
    "--protocols          After each probe, try TLS 1.0 to 1.3 one by one and list those accepted",
    "--tls-rpt            Check the domain's TLS-RPT record (_smtp._tls.<domain>)",
    "--mta-sts            Check the domain's MTA-STS policy and judge each host under it",
    "--mta-sts-ca=<file>  Trust these CAs for MTA-STS instead of the system's (implies --mta-sts)",
    "--batch=<file>       Test each domain or address of the file (- for standard input); JSON only",
    "--jobs=<number>      Targets of a batch in flight at once, 1 to 4096 (default 32)",
    "--per-address=<n>    Sessions of a batch at once to one address, 1 to 64 (default 2)",
    "--shard=<i>/<n>      Only the lines of a batch whose hash is i modulo n",
    "--resume=<file>      Skip the targets of a batch that the report in the file has done",
}};

void printHelp(OutputSink& output) {
  for (std::string_view line : kHelpLines) output.printLine(SharedString(line));
}

void printFullHelp(OutputSink& output) {
  printHelp(output);
  for (std::string_view line : kExtensionHelpLines) output.printLine(SharedString(line));
}

}  // namespace zarvik
