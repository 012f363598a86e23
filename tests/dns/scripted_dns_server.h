#pragma once

// A DNS server for tests: UDP and TCP on one loopback address and port,
// answering from a script keyed by query name and type, and recording every
// query it got. Its packet builder and query parser are its own, written
// apart from the program's encoder and decoder so that they check those.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zarvik {

using WireBytes = std::vector<std::uint8_t>;

// Uncompressed wire form of a dotted name ("" is the root).
WireBytes wireName(const std::string& name);

// RDATA builders.
WireBytes aData(const std::string& dotted);
WireBytes aaaaData(const std::string& text);  // eight groups, no "::" (test-only simplicity)
WireBytes mxData(std::uint16_t preference, const std::string& exchange);
WireBytes nameData(const std::string& target);  // CNAME, NS, PTR
WireBytes tlsaData(std::uint8_t usage, std::uint8_t selector, std::uint8_t matchingType, const WireBytes& data);

struct FakeRecord {
  std::string owner;
  std::uint16_t type = 0;
  WireBytes rdata;
  std::uint32_t ttl = 300;
};

FakeRecord fakeA(const std::string& owner, const std::string& dotted);
FakeRecord fakeAaaa(const std::string& owner, const std::string& text);
FakeRecord fakeMx(const std::string& owner, std::uint16_t preference, const std::string& exchange);
FakeRecord fakeCname(const std::string& owner, const std::string& target);
FakeRecord fakeTlsa(const std::string& owner, std::uint8_t usage, std::uint8_t selector, std::uint8_t matchingType,
                    const WireBytes& data);
FakeRecord fakeSoa(const std::string& owner);

// What the server does with one query.
struct ScriptedReply {
  std::uint8_t rcode = 0;
  bool authenticated = false;    // AD in the header
  bool silent = false;           // read the query, answer nothing (TCP: close at once)
  bool oversizeOverUdp = false;  // over UDP send a 5000-byte datagram; over TCP the real answer
  // Over UDP TC set, the first udpAnswersKept answer records and nothing
  // of the other two sections, as a server whose answer does not fit the
  // datagram sends (RFC 2181 section 9); over TCP the real answer.
  bool truncatedOverUdp = false;
  std::size_t udpAnswersKept = 0;
  bool truncated = false;        // TC in the header, over both transports
  bool silentOverTcp = false;    // over TCP read the query and close at once
  bool stallOverTcp = false;     // over TCP read the query and hold the connection (up to 3 s) without answering
  bool echoOpt = true;           // answer an EDNS query with an OPT record (RFC 6891)
  std::optional<WireBytes> raw;  // exact bytes to send instead (over TCP without added prefix)
  bool notResponse = false;      // QR clear, as in a query
  bool withoutQuestion = false;  // QDCOUNT 0
  // The question to echo in place of the query's, field by field.
  std::optional<std::string> questionName;
  std::optional<std::uint16_t> questionType;
  std::optional<std::uint16_t> questionClass;
  std::size_t cutTo = 0;  // send only this many bytes of the built answer (0: all)
  std::vector<FakeRecord> answers;
  std::vector<FakeRecord> authority;
  std::vector<FakeRecord> additional;
};

// One query as the server parsed it.
struct ReceivedQuery {
  bool overTcp = false;
  bool tcpPrefixMatches = false;  // the 2-byte prefix equalled the message length
  std::size_t messageLength = 0;
  std::uint16_t id = 0;
  std::uint8_t flags2 = 0;
  std::uint8_t flags3 = 0;
  std::uint16_t qdcount = 0;
  std::uint16_t arcount = 0;
  std::string qname;
  std::uint16_t qtype = 0;
  std::uint16_t qclass = 0;
  bool hasOpt = false;
  std::uint16_t optPayloadSize = 0;
  std::uint16_t optFlags = 0;
};

// The complete answer message to query (without TCP prefix).
WireBytes buildAnswer(const ReceivedQuery& query, const ScriptedReply& reply);

// Parses a query message; false when it is malformed.
bool parseQuery(const WireBytes& message, ReceivedQuery& query);

class ScriptedDnsServer {
 public:
  // Listens on address:port for UDP and TCP; port 0 picks a free port that
  // is free for both. Check started().
  explicit ScriptedDnsServer(const std::string& address, std::uint16_t port = 0);
  ~ScriptedDnsServer();
  ScriptedDnsServer(const ScriptedDnsServer&) = delete;
  ScriptedDnsServer& operator=(const ScriptedDnsServer&) = delete;

  bool started() const { return started_; }
  std::uint16_t port() const { return port_; }
  const std::string& address() const { return address_; }

  // The reply to queries for (name, type); names compare case-insensitively.
  // Unscripted queries get NOERROR without records.
  void script(const std::string& name, std::uint16_t type, ScriptedReply reply);
  // The reply to every query that has no script of its own.
  void scriptDefault(ScriptedReply reply);

  // Called on the server's thread with every query it parsed, before it
  // answers; an empty function removes the hook.
  void onQuery(std::function<void(const ReceivedQuery&)> hook);

  std::vector<ReceivedQuery> queries() const;
  std::size_t countQueries(const std::string& name, std::uint16_t type) const;

 private:
  bool listen(std::uint16_t port);
  void run();
  void serveUdp();
  void serveTcp();
  ScriptedReply replyFor(const ReceivedQuery& query) const;
  void record(const ReceivedQuery& query);

  std::string address_;
  std::uint16_t port_ = 0;
  bool started_ = false;
  int udp_ = -1;
  int tcp_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::uint16_t>, ScriptedReply> script_;
  std::optional<ScriptedReply> default_;
  std::vector<ReceivedQuery> queries_;
  std::function<void(const ReceivedQuery&)> hook_;
  std::thread thread_;
};

}  // namespace zarvik
