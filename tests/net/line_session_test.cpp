#include "net/line_session.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/output_sink.h"
#include "base/printed_lines.h"
#include "base/run_flag.h"
#include "net/socket_peer.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kShortMs = 50;
constexpr std::uint32_t kLongMs = 2000;
const TranscriptFlags kTranscript{TranscriptFlags::kWriteTranscript};

class LineSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connectedPair(connection, peer);
    connection.setLabelNumber(7);
    connection.setOutput(&transcript.sink);
  }

  // What is left on the connection, read raw.
  std::string remainingBytes() {
    std::string rest(64, '\0');
    std::size_t count = 0;
    EXPECT_EQ(connection.receiveFull(rest.data(), rest.size(), kShortMs, count), ResultCode::kReadTimeout);
    rest.resize(count);
    return rest;
  }

  std::string peerReceives() {
    std::string received(256, '\0');
    std::size_t count = 0;
    EXPECT_EQ(receiveFromSocket(peer.descriptor(), received.data(), received.size(), false, count), 0);
    received.resize(count);
    return received;
  }

  PrintedLines transcript;  // the connection's transcript
  Connection connection;
  SocketHandle peer;
  SharedString line;
};

TEST_F(LineSessionTest, NeverTakesABytePastTheLineEnd) {
  // First lines of odd and of even length, each followed by more data in
  // the same packet.
  for (const std::string first : {"250 odd", "250 even"}) {
    sendText(peer, first + "\r\nNEXT");
    ASSERT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kOk);
    EXPECT_EQ(line, first.c_str());
    EXPECT_EQ(remainingBytes(), "NEXT");
  }
}

TEST_F(LineSessionTest, ReadsTwoLinesFromOnePacket) {
  sendText(peer, "220-first\r\n220 second line\r\n");
  ASSERT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(line, "220-first");
  ASSERT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(line, "220 second line");
}

TEST_F(LineSessionTest, OnlyCrLfEndsALine) {
  sendText(peer, "a\nb\rc\r\n");
  ASSERT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(line, "a\nb\rc");
}

TEST_F(LineSessionTest, DropsNulBytes) {
  sendText(peer, std::string("\0a\0b\0\0c\r\0\n", 11));
  ASSERT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(line, "abc");
}

TEST_F(LineSessionTest, TimeOutCoversTheWholeLineAndLeavesItEmpty) {
  sendText(peer, "250 partial");
  EXPECT_EQ(readLine(connection, line, kShortMs, TranscriptFlags{}), ResultCode::kReadTimeout);
  EXPECT_TRUE(line.isEmpty());
}

TEST_F(LineSessionTest, PeerClosingMidLineEndsTheRead) {
  sendText(peer, "250 cut");
  ASSERT_EQ(peer.close(), 0);
  EXPECT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kPeerClosed);
  EXPECT_TRUE(line.isEmpty());
}

TEST_F(LineSessionTest, ClearedRunFlagEndsTheRead) {
  ScopedSetting stop(RunFlag, std::uint8_t{0});
  EXPECT_EQ(readLine(connection, line, kLongMs, TranscriptFlags{}), ResultCode::kTerminationRequested);
}

// Feeds the bytes from a thread: they are more than a socket buffer holds.
std::thread feedPeer(const SocketHandle& peer, const std::string& data) {
  return std::thread([&peer, &data] {
    std::size_t done = 0;
    while (done < data.size()) {
      std::size_t sent = 0;
      bool ready = false;
      if (sendToSocket(peer.descriptor(), data.data() + done, data.size() - done, sent) != 0) {
        if (waitForSocket(peer.descriptor(), kSocketWritable, 1000, ready) != 0 || !ready) return;
      }
      done += sent;
    }
  });
}

TEST_F(LineSessionTest, AcceptsTheLongestLine) {
  std::string longest(static_cast<std::size_t>(kMaxLineLength) - 2, 'x');
  longest += "\r\n";
  std::thread writer = feedPeer(peer, longest);
  EXPECT_EQ(readLine(connection, line, 10000, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(line.length(), kMaxLineLength - 2);
  writer.join();
}

// Feeds kMaxLineLength bytes of filler, with no line end, and reads a line.
ResultCode readEndlessLine(Connection& connection, const SocketHandle& peer, char filler, SharedString& line) {
  const std::string endless(static_cast<std::size_t>(kMaxLineLength), filler);
  std::thread writer = feedPeer(peer, endless);
  const ResultCode result = readLine(connection, line, 10000, TranscriptFlags{});
  writer.join();
  return result;
}

TEST_F(LineSessionTest, CutsOffALineWithoutEnd) {
  // Instead of growing without end, the read stops with "Message too long".
  EXPECT_EQ(readEndlessLine(connection, peer, 'y', line), ResultCode::kWsaMessageTooLong);
  EXPECT_TRUE(line.isEmpty());
}

TEST_F(LineSessionTest, CutsOffAnEndlessRunOfNulBytes) {
  // NUL bytes never reach the line, but they count against its bound: a
  // peer streaming them must not hold the read until the time-out.
  EXPECT_EQ(readEndlessLine(connection, peer, '\0', line), ResultCode::kWsaMessageTooLong);
  EXPECT_TRUE(line.isEmpty());
}

TEST_F(LineSessionTest, WritesTranscriptOfReceivedLines) {
  sendText(peer, "220 ready\r\n250 ok\r\n");
  ASSERT_EQ(readLine(connection, line, kLongMs, kTranscript), ResultCode::kOk);
  ASSERT_EQ(readLine(connection, line, kLongMs, kTranscript.with(TranscriptFlags::kNoLabel)), ResultCode::kOk);
  EXPECT_EQ(transcript.lines, (std::vector<std::string>{"0007: < 220 ready", "< 250 ok"}));
}

TEST_F(LineSessionTest, WriteLineSendsCrLfAndTranscriptsMasked) {
  const TranscriptFlags masked = kTranscript.with(TranscriptFlags::kMaskSecrets);
  ASSERT_EQ(writeLine(connection, "PASS secret", kLongMs, masked), ResultCode::kOk);
  EXPECT_EQ(peerReceives(), "PASS secret\r\n");  // masking never touches the wire
  ASSERT_EQ(writeLine(connection, "EHLO quiet", kLongMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(peerReceives(), "EHLO quiet\r\n");
  EXPECT_EQ(transcript.lines, (std::vector<std::string>{"0007: > PASS *****"}));
}

TEST_F(LineSessionTest, WriteLineTranscriptsEvenWhenTheSendFails) {
  ASSERT_EQ(peer.close(), 0);
  EXPECT_EQ(writeLine(connection, "QUIT", kLongMs, kTranscript), ResultCode{10054});
  EXPECT_EQ(transcript.lines, (std::vector<std::string>{"0007: > QUIT"}));
}

TEST_F(LineSessionTest, WriteLinesSendsOneBatch) {
  LockedList<SharedString> lines;
  lines.append("MAIL FROM:<a@example.org>");
  lines.append("PASS not masked in batches");
  ASSERT_EQ(writeLines(connection, lines, kLongMs, kTranscript.with(TranscriptFlags::kMaskSecrets)), ResultCode::kOk);
  EXPECT_EQ(peerReceives(), "MAIL FROM:<a@example.org>\r\nPASS not masked in batches\r\n");
  EXPECT_EQ(transcript.lines,
            (std::vector<std::string>{"0007: > MAIL FROM:<a@example.org>", "0007: > PASS not masked in batches"}));
}

TEST_F(LineSessionTest, InfoLinesHaveNoArrow) {
  transcriptInfo(connection, "Error: Timeout [7]", kTranscript);
  transcriptInfo(connection, "plain", kTranscript.with(TranscriptFlags::kNoLabel));
  transcriptInfo(connection, "hidden", TranscriptFlags{});
  EXPECT_EQ(transcript.lines, (std::vector<std::string>{"0007: Error: Timeout [7]", "plain"}));
}

TEST(TranscriptLabel, WidensToTheLongestNumberOfFiveToNineDigits) {
  OutputSink output;
  EXPECT_EQ(transcriptLabel(output, 7), "0007: ");
  EXPECT_EQ(transcriptLabel(output, 1234), "1234: ");
  EXPECT_EQ(transcriptLabel(output, 12345), "12345: ");
  EXPECT_EQ(transcriptLabel(output, 7), "00007: ");
  // Ten digits are printed whole and leave the width alone.
  EXPECT_EQ(transcriptLabel(output, 1234567890), "1234567890: ");
  EXPECT_EQ(transcriptLabel(output, 7), "00007: ");
  // Each output has a width of its own.
  OutputSink another;
  EXPECT_EQ(transcriptLabel(another, 7), "0007: ");
}

TEST(MaskSecrets, MasksPasswordsOnly) {
  struct Case {
    const char* line;
    const char* masked;
  };
  const Case cases[] = {
      {"PASS secret", "PASS *****"},
      {"pass secret", "PASS *****"},
      {"PASS ", "PASS "},  // nothing behind the word
      {"PASSWORD x", "PASSWORD x"},
      {"a1 LOGIN user \"secret\"", "a1 LOGIN user \"*****\""},
      {"a1 LOGIN \"user\" \"pw\"", "a1 LOGIN \"user\" \"*****\""},
      {"a1 LOGIN user secret", "a1 LOGIN user secret"},  // no final quoted string
      {"a1 LOGIN user\"", "a1 LOGIN user\""},            // no opening quote
      {"a1 login user \"pw\"", "a1 login user \"pw\""},  // LOGIN is case-sensitive
      {"LOGIN \"x\"", "LOGIN \"x\""},                    // too short
      {"EHLO mail.example", "EHLO mail.example"},
  };
  for (const Case& c : cases) EXPECT_EQ(maskSecrets(c.line), c.masked) << c.line;
}

}  // namespace

}  // namespace zarvik
