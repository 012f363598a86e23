#include "smtp/smtp_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "net/socket_peer.h"
#include "platform/socket.h"
#include "smtp_test_support.h"

namespace zarvik {

namespace {

// A connection on one end of a local socket pair; the test writes the
// peer's bytes into the other end.
class ReplyPeer {
 public:
  ReplyPeer() { connectedPair(connection, peer_); }
  void send(std::string_view bytes) { sendText(peer_, bytes); }
  void hangUp() { static_cast<void>(peer_.close()); }
  // Sends more than the socket buffers hold; the reader must run meanwhile.
  std::thread sendInBackground(std::string bytes) {
    return std::thread([this, bytes = std::move(bytes)] {
      std::size_t offset = 0;
      while (offset < bytes.size()) {
        bool ready = false;
        std::size_t sent = 0;
        if (waitForSocket(peer_.descriptor(), kSocketWritable, 5000, ready) != 0 || !ready) return;
        const std::int32_t error = sendToSocket(peer_.descriptor(), bytes.data() + offset, bytes.size() - offset, sent);
        if (error != 0 && error != 10035) return;
        offset += sent;
      }
    });
  }

  Connection connection;

 private:
  SocketHandle peer_;
};

TEST(ReadReply, JoinsContinuationLinesAndDropsLinesWithoutACode) {
  ReplyPeer peer;
  peer.send("250-first\r\nnot a reply line\r\n25x-short code\r\n250-second\r\n250 last\r\n221 next reply\r\n");
  ReplyLines reply;
  ASSERT_EQ(readReply(peer.connection, reply, 2000, kQuiet), ResultCode::kOk);
  EXPECT_EQ(texts(reply), (std::vector<std::string>{"250-first", "250-second", "250 last"}));
  // The next reply is still there, untouched.
  ASSERT_EQ(readReply(peer.connection, reply, 2000, kQuiet), ResultCode::kOk);
  EXPECT_EQ(texts(reply), std::vector<std::string>{"221 next reply"});
}

TEST(ReadReply, EndsTheReplyAtALineOfThreeDigits) {
  ReplyPeer peer;
  peer.send("250-a\r\n250\r\n");
  ReplyLines reply;
  ASSERT_EQ(readReply(peer.connection, reply, 2000, kQuiet), ResultCode::kOk);
  EXPECT_EQ(texts(reply), (std::vector<std::string>{"250-a", "250"}));
}

TEST(ReadReply, ReportsTheSessionTimeOutEvenForACompleteReply) {
  ReplyPeer peer;
  peer.send("250 done\r\n");
  ReplyLines reply;
  EXPECT_EQ(readReply(peer.connection, reply, 0, kQuiet), ResultCode::kSessionTimeout);
}

TEST(ReadReply, PassesTheLineSessionsFailuresOn) {
  ReplyPeer quiet;
  ReplyLines reply;
  EXPECT_EQ(readReply(quiet.connection, reply, 100, kQuiet), ResultCode::kReadTimeout);

  ReplyPeer closing;
  closing.send("250-half a reply\r\n");
  closing.hangUp();
  EXPECT_EQ(readReply(closing.connection, reply, 2000, kQuiet), ResultCode::kPeerClosed);
}

TEST(ReadReply, CountsDroppedLinesTowardsTheLineLimit) {
  ReplyPeer peer;
  std::string noise;
  for (int i = 0; i < kMaxReplyLines; ++i) noise += "*\r\n";
  peer.send(noise + "250 too late\r\n");
  ReplyLines reply;
  EXPECT_EQ(readReply(peer.connection, reply, 5000, kQuiet), ResultCode::kClientNotResponding);
  EXPECT_TRUE(reply.isEmpty());
}

TEST(ReadReply, CountsEveryByteReceivedTowardsTheByteLimit) {
  // Two lines, each below the line session's own bound, together above the
  // reply's: the bytes of dropped lines count, not only the bytes kept, and
  // so do NUL bytes, which the line session drops.
  const std::string code = "250-";
  for (const auto& [prefix, filler] : {std::pair{std::string(), 'x'}, std::pair{code, '\0'}}) {
    ReplyPeer peer;
    const std::string line = prefix + std::string(kMaxReplyBytes * 6 / 10, filler) + "\r\n";
    std::thread sender = peer.sendInBackground(line + line + "250 too late\r\n");
    ReplyLines reply;
    EXPECT_EQ(readReply(peer.connection, reply, 20000, kQuiet), ResultCode::kClientNotResponding) << prefix;
    EXPECT_EQ(reply.count(), prefix.empty() ? 0 : 1);
    static_cast<void>(peer.connection.closeConnection(0));  // ends the sender's writes
    sender.join();
  }
}

TEST(ReplyCode, ReadsTheLeadingDigits) {
  EXPECT_EQ(replyCode("250 ok"), 250);
  EXPECT_EQ(replyCode("554-x"), 554);
  EXPECT_EQ(replyCode("25"), 25);
  EXPECT_EQ(replyCode("2x0"), 2);
  EXPECT_EQ(replyCode(""), 0);
}

}  // namespace

}  // namespace zarvik
