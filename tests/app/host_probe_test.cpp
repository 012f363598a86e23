#include "app/host_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "base/printed_lines.h"
#include "net/socket_peer.h"
#include "smtp/scripted_smtp_server.h"
#include "smtp/smtp_session.h"
#include "smtp/smtp_test_support.h"

namespace zarvik {

namespace {

MailHostEntry entryAt(const char* address) {
  MailHostEntry entry;
  entry.hostName = "mx.example.org";
  IpAddress value;
  value.parse(address);
  static_cast<void>(entry.addresses.append(value));
  return entry;
}

struct ProbeRun {
  int verdict = -1;
  std::vector<std::string> lines;
  std::vector<std::string> faults;
};

struct ProbeArgs {
  const char* from = "";
  const char* to = "";
  const char* forced = "";
  bool useHelo = false;
  const char* entryAddress = "127.0.0.1";
  std::uint32_t timeoutMs = 0;  // as --timeout gives it
};

HostProbeRequest requestOf(const ProbeArgs& args, std::uint16_t port) {
  HostProbeRequest request;
  request.smtpPort = port;
  request.fromAddress = args.from;
  request.toAddress = args.to;
  request.localHostName = "client.example";
  request.forcedAddress = args.forced;
  request.useHelo = args.useHelo;
  request.bounds = WaitBounds::under(args.timeoutMs);
  return request;
}

ProbeRun runProbe(ScriptedSmtpServer& server, const ProbeArgs& args) {
  ProbeRun run;
  const std::uint16_t port = server.start();
  {
    PrintedLines printed;
    HostProbeRequest request = requestOf(args, port);
    request.output = &printed.sink;
    run.verdict = probeHost(entryAt(args.entryAddress), request);
    run.lines = printed.lines;
  }
  run.faults = server.finish();
  return run;
}

const char* kGreeting = "220 mx.example.org ESMTP\r\n";
const char* kEhlo = "EHLO client.example\r\n";
const char* kEhloReply = "250-mx.example.org\r\n250 8BITMIME\r\n";
const char* kMailFrom = "MAIL FROM:<sender@example.com>\r\n";

// The greeting and an accepted EHLO.
ScriptedSmtpServer& greeted(ScriptedSmtpServer& server) {
  return server.send(kGreeting).expect(kEhlo).send(kEhloReply);
}

// QUIT and its reply.
ScriptedSmtpServer& quits(ScriptedSmtpServer& server) { return server.expect("QUIT\r\n").send("221 bye\r\n"); }

ProbeArgs withEnvelope() {
  ProbeArgs args;
  args.from = "sender@example.com";
  args.to = "user@example.org";
  return args;
}

std::vector<std::string> framed(std::vector<std::string> dialogue) {
  std::vector<std::string> lines = {"Connecting with mx.example.org [127.0.0.1]",
                                    "Connection established with 127.0.0.1"};
  lines.insert(lines.end(), dialogue.begin(), dialogue.end());
  lines.push_back("Connection closed with mx.example.org [127.0.0.1]");
  return lines;
}

TEST(HostProbe, FlagSetsMatchTheProbePolicy) {
  EXPECT_EQ(probeTranscriptFlags("").bits, 0x0400008Du);
  EXPECT_EQ(probeTranscriptFlags("client.pem").bits, (std::uint64_t{0x00200000u} << 32) | 0x0400008Du);
  // The named options a probe uses, and no others: EHLO, the XBDATA token
  // bit (inert without its policy bits), partial recipients, the null path
  // for NOTIFY=NEVER, STARTTLS and priority.
  EXPECT_EQ(probeSmtpOptions(false).bits, 0x04110441u);
  EXPECT_EQ(probeSmtpOptions(true).bits, 0x04110440u);
}

TEST(HostProbe, GreetsAndQuitsWithoutSender) {
  ScriptedSmtpServer server;
  quits(greeted(server));
  const ProbeRun run = runProbe(server, {});
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 0);
  EXPECT_EQ(run.lines, framed({"< 220 mx.example.org ESMTP", "> EHLO client.example", "< 250-mx.example.org",
                               "< 250 8BITMIME", "> QUIT", "< 221 bye"}));
}

TEST(HostProbe, UsesHeloWhenAsked) {
  ScriptedSmtpServer server;
  quits(server.send(kGreeting).expect("HELO client.example\r\n").send("250 mx\r\n"));
  ProbeArgs args;
  args.useHelo = true;
  const ProbeRun run = runProbe(server, args);
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 0);
}

// A peer that falls silent before the greeting or a reply is left after the
// run's bound, long before the scripted server would give up and close.
TEST(HostProbe, TimeoutBoundsTheGreetingAndEveryReply) {
  struct Case {
    const char* what;
    bool greets;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"greeting", false, {"Error: Timeout in reading data [9]"}},
      {"EHLO reply",
       true,
       {"< 220 mx.example.org ESMTP", "> EHLO client.example", "Error: Timeout in reading data [9]"}},
  };
  for (const Case& c : cases) {
    ScriptedSmtpServer server;
    if (c.greets) server.send(kGreeting).expect(kEhlo);
    ProbeArgs args;
    args.timeoutMs = 300;
    const ProbeRun run = runProbe(server, args);
    EXPECT_TRUE(run.faults.empty()) << c.what << ": " << run.faults.front();
    EXPECT_EQ(run.verdict, 99) << c.what;
    std::vector<std::string> expected = {"Connecting with mx.example.org [127.0.0.1]",
                                         "Connection established with 127.0.0.1"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(run.lines, expected) << c.what;
  }
}

// The verdict follows the envelope: accepted, refused for good or for now,
// whether MAIL FROM or RCPT TO was refused; QUIT is sent in every case.
TEST(HostProbe, JudgesTheEnvelope) {
  struct Case {
    const char* mailReply;
    const char* rcptReply;  // null when RCPT TO is not reached
    int verdict;
    const char* errorLine;  // null when none
  };
  const Case cases[] = {
      {"250 ok\r\n", "250 ok\r\n", 0, nullptr},
      {"250 ok\r\n", "550 5.1.1 no such user\r\n", 1, "Error: Permanent message handling problem [60]"},
      {"250 ok\r\n", "450 4.2.0 try later\r\n", 2, "Error: Temporary message handling problem [61]"},
      {"550 5.7.1 go away\r\n", nullptr, 1, "Error: Permanent message handling problem [60]"},
  };
  for (const Case& c : cases) {
    ScriptedSmtpServer server;
    greeted(server).expect(kMailFrom).send(c.mailReply);
    if (c.rcptReply != nullptr) server.expect("RCPT TO:<user@example.org>\r\n").send(c.rcptReply);
    quits(server);
    const ProbeRun run = runProbe(server, withEnvelope());
    const std::string label = std::string(c.mailReply) + (c.rcptReply ? c.rcptReply : "");
    EXPECT_TRUE(run.faults.empty()) << label << run.faults.front();
    EXPECT_EQ(run.verdict, c.verdict) << label;
    ASSERT_GE(run.lines.size(), 4u);
    const std::string& beforeQuit = run.lines[run.lines.size() - 4];
    EXPECT_EQ(beforeQuit, c.errorLine ? c.errorLine : "< 250 ok") << label;
    EXPECT_EQ(run.lines.back(), "Connection closed with mx.example.org [127.0.0.1]");
  }
}

TEST(HostProbe, TriesOnlyTheSenderWithoutARecipient) {
  ScriptedSmtpServer server;
  quits(greeted(server).expect(kMailFrom).send("250 ok\r\n"));
  ProbeArgs args;
  args.from = "sender@example.com";
  const ProbeRun run = runProbe(server, args);
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 0);
}

TEST(HostProbe, SenderThatCannotBeSentIsNotTried) {
  ScriptedSmtpServer server;
  quits(greeted(server));
  ProbeArgs args = withEnvelope();
  args.from = "<sender@example.com";
  const ProbeRun run = runProbe(server, args);
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 99);
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "Error: Unable to convert From address [53]"),
            run.lines.end());
}

TEST(HostProbe, RefusedGreetingEndsWithoutQuitOrClosingLine) {
  ScriptedSmtpServer server;
  server.send("554 5.3.2 no service\r\n");
  const ProbeRun run = runProbe(server, {});
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 99);
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[2], "< 554 5.3.2 no service");
  EXPECT_EQ(run.lines[3], "Error: Permanent message handling problem [60]");
}

TEST(HostProbe, LinkFailureDuringTheEnvelopeSkipsQuit) {
  ScriptedSmtpServer server;
  greeted(server).expect(kMailFrom).hangUp();
  const ProbeRun run = runProbe(server, withEnvelope());
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 99);
  ASSERT_GE(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[run.lines.size() - 2], "Error: Connection closed by peer for no good reason [11]");
  EXPECT_EQ(run.lines.back(), "Connection closed with mx.example.org [127.0.0.1]");
}

TEST(HostProbe, ForcedAddressReplacesTheResolvedOnes) {
  ScriptedSmtpServer server;
  quits(greeted(server));
  ProbeArgs args;
  args.forced = "127.0.0.1";
  args.entryAddress = "192.0.2.1";  // never connected to
  const ProbeRun run = runProbe(server, args);
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 0);
  EXPECT_EQ(run.lines.front(), "Connecting with mx.example.org [127.0.0.1]");
}

TEST(HostProbe, InvalidForcedAddressIsOnlyAWarning) {
  ScriptedSmtpServer server;
  quits(greeted(server));
  ProbeArgs args;
  args.forced = "192.0.2.300";
  const ProbeRun run = runProbe(server, args);
  EXPECT_TRUE(run.faults.empty()) << run.faults.front();
  EXPECT_EQ(run.verdict, 0);
  ASSERT_GE(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0], "Warning: Invalid IP 192.0.2.300");
  EXPECT_EQ(run.lines[1], "Connecting with mx.example.org [127.0.0.1]");
}

TEST(HostProbe, RefusedConnectionPrintsTheSocketError) {
  const std::uint16_t port = closedPort(ipAddress("127.0.0.1"));
  PrintedLines printed;
  HostProbeRequest request = requestOf(ProbeArgs{}, port);
  request.output = &printed.sink;
  EXPECT_EQ(probeHost(entryAt("127.0.0.1"), request), 99);
  EXPECT_EQ(printed.lines, (std::vector<std::string>{"Connecting with mx.example.org [127.0.0.1]",
                                                     "Error: Connection refused [10061]"}));
}

// Two probes at once in one process, each with its own port, bound,
// envelope and output: the silent server's probe gives up after its own
// short bound, the other's dialogue goes through under the default bounds,
// and neither's lines reach the other's output.
TEST(HostProbe, TwoProbesInOneProcessKeepTheirOwnSettingsAndOutput) {
  ScriptedSmtpServer silent;
  ScriptedSmtpServer willing;
  quits(greeted(willing)
            .expect(kMailFrom)
            .send("250 ok\r\n")
            .expect("RCPT TO:<user@example.org>\r\n")
            .send("250 ok\r\n"));
  ProbeArgs hurried;
  hurried.timeoutMs = 300;
  PrintedLines silentLines;
  PrintedLines willingLines;
  HostProbeRequest first = requestOf(hurried, silent.start());
  first.output = &silentLines.sink;
  HostProbeRequest second = requestOf(withEnvelope(), willing.start());
  second.output = &willingLines.sink;

  int firstVerdict = -1;
  std::thread other([&] { firstVerdict = probeHost(entryAt("127.0.0.1"), first); });
  const int secondVerdict = probeHost(entryAt("127.0.0.1"), second);
  other.join();

  EXPECT_EQ(firstVerdict, 99);
  EXPECT_EQ(secondVerdict, 0);
  EXPECT_EQ(silentLines.lines,
            (std::vector<std::string>{"Connecting with mx.example.org [127.0.0.1]",
                                      "Connection established with 127.0.0.1", "Error: Timeout in reading data [9]"}));
  EXPECT_TRUE(willingLines.contains("> RCPT TO:<user@example.org>"));
  EXPECT_FALSE(willingLines.contains("Error: Timeout in reading data [9]"));
  EXPECT_TRUE(willing.finish().empty());
  static_cast<void>(silent.finish());
}

}  // namespace

}  // namespace zarvik
