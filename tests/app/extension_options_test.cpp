#include "app/extension_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mx_test_options.h"

namespace zarvik {

namespace {

using Action = ExtensionOptions::Action;

// Builds the options from a list of arguments, without a defaults file, so
// that the tokens are cut exactly as the program cuts them.
MxTestOptions optionsFrom(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "zarvik");
  return MxTestOptions(static_cast<int>(arguments.size()), arguments.data(), SharedString());
}

TEST(ExtensionOptions, LongFormsAndTheirFaults) {
  const std::string badTimeout = "Error: --timeout needs a whole number of seconds from 1 to 300";
  struct Case {
    std::vector<const char*> arguments;
    std::string error;
    Action action;
    std::uint32_t timeoutMs;
  };
  const std::vector<Case> cases = {
      {{}, "", Action::kTest, 0},
      {{"--help"}, "", Action::kHelp, 0},
      {{"--help", "-dexample.org"}, "", Action::kHelp, 0},  // the token is "--help " with its blank
      {{"--version", "--help"}, "", Action::kVersion, 0},
      {{"--timeout=5"}, "", Action::kTest, 5000},
      {{"--timeout", "5"}, "", Action::kTest, 5000},  // one token, "--timeout 5"
      {{"--timeout=  7  "}, "", Action::kTest, 7000},
      {{"--timeout=1"}, "", Action::kTest, 1000},
      {{"--timeout=300"}, "", Action::kTest, 300000},
      {{"--timeout=0300"}, "", Action::kTest, 300000},
      {{"--timeout=5", "--timeout=9"}, "", Action::kTest, 9000},
      {{"--timeout=0"}, badTimeout + ", not \"0\"", Action::kTest, 0},
      {{"--timeout=301"}, badTimeout + ", not \"301\"", Action::kTest, 0},
      {{"--timeout=99999999999999999999"}, badTimeout + ", not \"99999999999999999999\"", Action::kTest, 0},
      {{"--timeout=+5"}, badTimeout + ", not \"+5\"", Action::kTest, 0},
      {{"--timeout=2.5"}, badTimeout + ", not \"2.5\"", Action::kTest, 0},
      {{"--timeout="}, badTimeout, Action::kTest, 0},
      {{"--timeout"}, badTimeout, Action::kTest, 0},
      // "-5" after a blank starts a classic token of its own.
      {{"--timeout", "-5"}, badTimeout, Action::kTest, 0},
      {{"--xyz"}, "Error: unknown option --xyz", Action::kTest, 0},
      {{"--xyz=1"}, "Error: unknown option --xyz", Action::kTest, 0},
      {{"--xyz", "1"}, "Error: unknown option --xyz", Action::kTest, 0},
      {{"--HELP"}, "Error: unknown option --HELP", Action::kTest, 0},
      {{"--hel"}, "Error: unknown option --hel", Action::kTest, 0},
      {{"--"}, "Error: unknown option --", Action::kTest, 0},
      {{"--version=1"}, "Error: option --version takes no value", Action::kTest, 0},
      {{"--help", "now"}, "Error: option --help takes no value", Action::kTest, 0},
      // The first fault is reported; later tokens change nothing.
      {{"--one", "--two", "--timeout=5"}, "Error: unknown option --one", Action::kTest, 0},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const char* argument : c.arguments) label += std::string(argument) + " ";
    const MxTestOptions options = optionsFrom(c.arguments);
    const ExtensionOptions& extensions = options.extensions;
    EXPECT_EQ(extensions.errorLine().toStdString(), c.error) << label;
    EXPECT_EQ(extensions.hasError(), !c.error.empty()) << label;
    EXPECT_EQ(extensions.action(), c.action) << label;
    EXPECT_EQ(extensions.timeoutMs(), c.timeoutMs) << label;
  }
}

TEST(ExtensionOptions, FaultOfAFileNamesTheFileAndLine) {
  ExtensionOptions extensions;
  extensions.apply("--timeout=5");
  extensions.apply("--timeout=abc");
  extensions.apply("--bogus");
  EXPECT_EQ(extensions.faultyToken(), "--timeout=abc");
  const std::string message = "--timeout needs a whole number of seconds from 1 to 300, not \"abc\"";
  EXPECT_EQ(extensions.errorLine().toStdString(), "Error: " + message);
  EXPECT_EQ(extensions.errorLine(SharedString("/etc/zarvik/zarvik.def line 3")).toStdString(),
            "Error: /etc/zarvik/zarvik.def line 3: " + message);
  // From the command line: no origin, the line as before.
  EXPECT_EQ(extensions.errorLine(SharedString()).toStdString(), "Error: " + message);

  const ExtensionOptions valid;
  EXPECT_TRUE(valid.faultyToken().isEmpty());
  EXPECT_TRUE(valid.errorLine(SharedString("x.def line 1")).isEmpty());
}

TEST(ExtensionOptions, NeverReachTheClassicSwitches) {
  // Without the "--" rule "--dexample.org" would not match "-D" either, but
  // "--help" must in no case be read as "-h" with the host "elp".
  const MxTestOptions options = optionsFrom({"--help", "--dexample.org", "--n", "--timeout=5", "-tuser@example.org"});
  EXPECT_TRUE(options.host.isEmpty());
  EXPECT_TRUE(options.domain.isEmpty());
  EXPECT_FALSE(options.useHelo);
  EXPECT_EQ(options.toAddress, "user@example.org");
}

// The options of the report and of the port, and their faults.
TEST(ExtensionOptions, ReportAndPortOptions) {
  const std::string badPort = "Error: --port needs a port number from 1 to 65535";
  struct Case {
    std::vector<std::string> tokens;
    std::string error;
    std::uint16_t port;
    bool tlsOnConnect;
    bool json;
    std::string jsonFile;
  };
  const std::vector<Case> cases = {
      {{"--port=587"}, "", 587, false, false, ""},
      {{"--port=465"}, "", 465, true, false, ""},  // submissions: TLS from the first byte
      {{"--port=2525", "--tls-on-connect"}, "", 2525, true, false, ""},
      {{"--port=65535"}, "", 65535, false, false, ""},
      {{"--port=0"}, badPort + ", not \"0\"", 0, false, false, ""},
      {{"--port=65536"}, badPort + ", not \"65536\"", 0, false, false, ""},
      {{"--port=25x"}, badPort + ", not \"25x\"", 0, false, false, ""},
      {{"--port"}, badPort, 0, false, false, ""},
      {{"--tls-on-connect=yes"}, "Error: option --tls-on-connect takes no value", 0, false, false, ""},
      {{"--json"}, "", 0, false, true, ""},
      {{"--json=out.jsonl"}, "", 0, false, true, "out.jsonl"},
      {{"--json", "out.jsonl"}, "", 0, false, true, "out.jsonl"},
      {{"--summary=no"}, "Error: option --summary takes no value", 0, false, false, ""},
      {{"--protocols=all"}, "Error: option --protocols takes no value", 0, false, false, ""},
  };
  for (const Case& c : cases) {
    ExtensionOptions extensions;
    std::string label;
    for (const std::string& token : c.tokens) label += token + " ";
    if (c.tokens.size() == 2 && c.tokens[1][0] != '-') {
      extensions.apply(c.tokens[0] + " " + c.tokens[1]);  // one token, as the tokeniser cuts it
    } else {
      for (const std::string& token : c.tokens) extensions.apply(token);
    }
    EXPECT_EQ(extensions.errorLine().toStdString(), c.error) << label;
    if (!c.error.empty()) continue;
    EXPECT_EQ(extensions.port(), c.port) << label;
    EXPECT_EQ(extensions.tlsOnConnect(), c.tlsOnConnect) << label;
    EXPECT_EQ(extensions.json(), c.json) << label;
    EXPECT_EQ(extensions.jsonFile().toStdString(), c.jsonFile) << label;
  }
  ExtensionOptions protocols;
  protocols.apply("--protocols");
  protocols.apply("--tls-rpt");
  EXPECT_TRUE(protocols.protocols());
  EXPECT_TRUE(protocols.tlsRpt());
  EXPECT_FALSE(ExtensionOptions().protocols());
  EXPECT_FALSE(ExtensionOptions().tlsRpt());
  // --mta-sts-ca names the store and asks for the check, which asks for
  // the TLS-RPT record too; a store needs a name.
  ExtensionOptions mtaSts;
  mtaSts.apply("--mta-sts-ca=/etc/ca.pem");
  EXPECT_TRUE(mtaSts.mtaSts());
  EXPECT_TRUE(mtaSts.tlsRpt());
  EXPECT_EQ(mtaSts.mtaStsCa().toStdString(), "/etc/ca.pem");
  for (const char* faulty : {"--mta-sts-ca", "--mta-sts-ca=", "--mta-sts=yes"}) {
    ExtensionOptions options;
    options.apply(faulty);
    EXPECT_TRUE(options.hasError()) << faulty;
  }
}

}  // namespace

}  // namespace zarvik
