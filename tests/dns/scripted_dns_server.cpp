#include "scripted_dns_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zarvik {

namespace {

void putU16(WireBytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void putU32(WireBytes& out, std::uint32_t value) {
  putU16(out, static_cast<std::uint16_t>(value >> 16));
  putU16(out, static_cast<std::uint16_t>(value));
}

void append(WireBytes& out, const WireBytes& more) { out.insert(out.end(), more.begin(), more.end()); }

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A minimal bounds-checked reader of the query bytes.
struct QueryReader {
  const WireBytes& bytes;
  std::size_t at = 0;
  bool u8(std::uint8_t& v) {
    if (at + 1 > bytes.size()) return false;
    v = bytes[at++];
    return true;
  }
  bool u16(std::uint16_t& v) {
    if (at + 2 > bytes.size()) return false;
    v = static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
    at += 2;
    return true;
  }
  bool skip(std::size_t n) {
    if (at + n > bytes.size()) return false;
    at += n;
    return true;
  }
  // Queries carry no compression.
  bool name(std::string& out) {
    out.clear();
    for (;;) {
      std::uint8_t length = 0;
      if (!u8(length)) return false;
      if (length == 0) return true;
      if (length > 63 || at + length > bytes.size()) return false;
      if (!out.empty()) out += '.';
      out.append(reinterpret_cast<const char*>(bytes.data() + at), length);
      at += length;
    }
  }
};

bool sendAllBytes(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool receiveExactly(int fd, std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return false;
    const ssize_t got = ::recv(fd, data, length, 0);
    if (got <= 0) return false;
    data += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

WireBytes wireName(const std::string& name) {
  WireBytes out;
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    out.push_back(static_cast<std::uint8_t>(dot - start));
    out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(start),
               name.begin() + static_cast<std::ptrdiff_t>(dot));
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

WireBytes aData(const std::string& dotted) {
  in_addr address{};
  ::inet_pton(AF_INET, dotted.c_str(), &address);
  const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
  return WireBytes(b, b + 4);
}

WireBytes aaaaData(const std::string& text) {
  in6_addr address{};
  ::inet_pton(AF_INET6, text.c_str(), &address);
  const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
  return WireBytes(b, b + 16);
}

WireBytes mxData(std::uint16_t preference, const std::string& exchange) {
  WireBytes out;
  putU16(out, preference);
  append(out, wireName(exchange));
  return out;
}

WireBytes nameData(const std::string& target) { return wireName(target); }

WireBytes tlsaData(std::uint8_t usage, std::uint8_t selector, std::uint8_t matchingType, const WireBytes& data) {
  WireBytes out(3 + data.size());
  out[0] = usage;
  out[1] = selector;
  out[2] = matchingType;
  std::copy(data.begin(), data.end(), out.begin() + 3);
  return out;
}

FakeRecord fakeA(const std::string& owner, const std::string& dotted) { return {owner, 1, aData(dotted)}; }
FakeRecord fakeAaaa(const std::string& owner, const std::string& text) { return {owner, 28, aaaaData(text)}; }
FakeRecord fakeMx(const std::string& owner, std::uint16_t preference, const std::string& exchange) {
  return {owner, 15, mxData(preference, exchange)};
}
FakeRecord fakeCname(const std::string& owner, const std::string& target) { return {owner, 5, nameData(target)}; }
FakeRecord fakeTlsa(const std::string& owner, std::uint8_t usage, std::uint8_t selector, std::uint8_t matchingType,
                    const WireBytes& data) {
  return {owner, 52, tlsaData(usage, selector, matchingType, data)};
}
FakeRecord fakeSoa(const std::string& owner) {
  WireBytes rdata = wireName("ns." + owner);
  append(rdata, wireName("hostmaster." + owner));
  for (std::uint32_t counter : {1u, 7200u, 900u, 1209600u, 300u}) putU32(rdata, counter);
  return {owner, 6, rdata};
}

WireBytes buildAnswer(const ReceivedQuery& query, const ScriptedReply& reply) {
  WireBytes out;
  putU16(out, query.id);
  out.push_back(static_cast<std::uint8_t>((reply.notResponse ? 0 : 0x80) | (reply.truncated ? 0x02 : 0) |
                                          (query.flags2 & 0x01)));  // QR, TC, RD copied
  out.push_back(static_cast<std::uint8_t>(0x80 | (reply.authenticated ? 0x20 : 0) | (reply.rcode & 0x0F)));
  putU16(out, reply.withoutQuestion ? 0 : 1);
  putU16(out, static_cast<std::uint16_t>(reply.answers.size()));
  putU16(out, static_cast<std::uint16_t>(reply.authority.size()));
  const bool withOpt = query.hasOpt && reply.echoOpt;
  putU16(out, static_cast<std::uint16_t>(reply.additional.size() + (withOpt ? 1 : 0)));
  if (!reply.withoutQuestion) {
    append(out, wireName(reply.questionName.value_or(query.qname)));
    putU16(out, reply.questionType.value_or(query.qtype));
    putU16(out, reply.questionClass.value_or(query.qclass));
  }
  for (const auto* section : {&reply.answers, &reply.authority, &reply.additional}) {
    for (const FakeRecord& record : *section) {
      append(out, wireName(record.owner));
      putU16(out, record.type);
      putU16(out, 1);
      putU32(out, record.ttl);
      putU16(out, static_cast<std::uint16_t>(record.rdata.size()));
      append(out, record.rdata);
    }
  }
  if (withOpt) {
    out.push_back(0);  // root owner
    putU16(out, 41);
    putU16(out, 1232);
    putU16(out, 0);  // extended RCODE, version
    putU16(out, static_cast<std::uint16_t>(query.optFlags & 0x8000));
    putU16(out, 0);
  }
  if (reply.cutTo > 0 && reply.cutTo < out.size()) out.resize(reply.cutTo);
  return out;
}

bool parseQuery(const WireBytes& message, ReceivedQuery& query) {
  QueryReader reader{message};
  std::uint16_t ancount = 0;
  std::uint16_t nscount = 0;
  if (!(reader.u16(query.id) && reader.u8(query.flags2) && reader.u8(query.flags3) && reader.u16(query.qdcount) &&
        reader.u16(ancount) && reader.u16(nscount) && reader.u16(query.arcount))) {
    return false;
  }
  if (query.qdcount != 1 || !reader.name(query.qname) || !reader.u16(query.qtype) || !reader.u16(query.qclass)) {
    return false;
  }
  query.messageLength = message.size();
  if (query.arcount == 0) return reader.at == message.size();
  std::uint8_t root = 0xFF;
  std::uint16_t type = 0;
  std::uint8_t extendedRcode = 0;
  std::uint8_t version = 0;
  std::uint16_t rdlength = 0;
  if (!(reader.u8(root) && reader.u16(type) && reader.u16(query.optPayloadSize) && reader.u8(extendedRcode) &&
        reader.u8(version) && reader.u16(query.optFlags) && reader.u16(rdlength) && reader.skip(rdlength))) {
    return false;
  }
  query.hasOpt = root == 0 && type == 41;
  return reader.at == message.size();
}

ScriptedDnsServer::ScriptedDnsServer(const std::string& address, std::uint16_t port) : address_(address) {
  if (::pipe(wake_) != 0) return;
  for (int attempt = 0; attempt < 20 && !started_; ++attempt) started_ = listen(port);
  if (started_) thread_ = std::thread([this] { run(); });
}

ScriptedDnsServer::~ScriptedDnsServer() {
  stop_ = true;
  // Wakes the server thread at once; should the byte not go out, the
  // thread still sees stop_ within its one-second poll.
  const bool woken = wake_[1] >= 0 && ::write(wake_[1], "x", 1) == 1;
  if (!woken) std::this_thread::yield();
  if (thread_.joinable()) thread_.join();
  for (int fd : {udp_, tcp_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

bool ScriptedDnsServer::listen(std::uint16_t port) {
  for (int* fd : {&udp_, &tcp_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  if (::inet_pton(AF_INET, address_.c_str(), &where.sin_addr) != 1) return false;
  udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (udp_ < 0 || ::bind(udp_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return false;
  socklen_t length = sizeof where;
  if (::getsockname(udp_, reinterpret_cast<sockaddr*>(&where), &length) != 0) return false;
  tcp_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int yes = 1;
  ::setsockopt(tcp_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (tcp_ < 0 || ::bind(tcp_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return false;
  if (::listen(tcp_, 8) != 0) return false;
  port_ = ntohs(where.sin_port);
  return true;
}

void ScriptedDnsServer::script(const std::string& name, std::uint16_t type, ScriptedReply reply) {
  std::scoped_lock guard(mutex_);
  script_[{lower(name), type}] = std::move(reply);
}

void ScriptedDnsServer::scriptDefault(ScriptedReply reply) {
  std::scoped_lock guard(mutex_);
  default_ = std::move(reply);
}

std::vector<ReceivedQuery> ScriptedDnsServer::queries() const {
  std::scoped_lock guard(mutex_);
  return queries_;
}

std::size_t ScriptedDnsServer::countQueries(const std::string& name, std::uint16_t type) const {
  std::scoped_lock guard(mutex_);
  return static_cast<std::size_t>(std::count_if(queries_.begin(), queries_.end(), [&](const ReceivedQuery& q) {
    return lower(q.qname) == lower(name) && q.qtype == type;
  }));
}

ScriptedReply ScriptedDnsServer::replyFor(const ReceivedQuery& query) const {
  std::scoped_lock guard(mutex_);
  const auto found = script_.find({lower(query.qname), query.qtype});
  if (found != script_.end()) return found->second;
  return default_.value_or(ScriptedReply{});
}

void ScriptedDnsServer::onQuery(std::function<void(const ReceivedQuery&)> hook) {
  std::scoped_lock guard(mutex_);
  hook_ = std::move(hook);
}

void ScriptedDnsServer::record(const ReceivedQuery& query) {
  std::function<void(const ReceivedQuery&)> hook;
  {
    std::scoped_lock guard(mutex_);
    queries_.push_back(query);
    hook = hook_;
  }
  if (hook) hook(query);
}

void ScriptedDnsServer::run() {
  while (!stop_) {
    pollfd fds[3] = {{udp_, POLLIN, 0}, {tcp_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 3, 1000) < 0) break;
    if (fds[0].revents & POLLIN) serveUdp();
    if (fds[1].revents & POLLIN) serveTcp();
  }
}

void ScriptedDnsServer::serveUdp() {
  WireBytes message(65535);
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  const ssize_t got =
      ::recvfrom(udp_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
  if (got <= 0) return;
  message.resize(static_cast<std::size_t>(got));
  ReceivedQuery query;
  if (!parseQuery(message, query)) return;
  record(query);
  ScriptedReply reply = replyFor(query);
  if (reply.silent) return;
  if (reply.truncatedOverUdp) {
    reply.truncated = true;
    if (reply.answers.size() > reply.udpAnswersKept) reply.answers.resize(reply.udpAnswersKept);
    reply.authority.clear();
    reply.additional.clear();
  }
  WireBytes answer = reply.raw ? *reply.raw : buildAnswer(query, reply);
  if (reply.oversizeOverUdp) answer.resize(5000, 0);
  ::sendto(udp_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
}

void ScriptedDnsServer::serveTcp() {
  const int client = ::accept(tcp_, nullptr, nullptr);
  if (client < 0) return;
  std::uint8_t prefix[2] = {};
  if (receiveExactly(client, prefix, 2)) {
    WireBytes message(static_cast<std::size_t>((prefix[0] << 8) | prefix[1]));
    ReceivedQuery query;
    if (receiveExactly(client, message.data(), message.size()) && parseQuery(message, query)) {
      query.overTcp = true;
      query.tcpPrefixMatches = true;
      record(query);
      const ScriptedReply reply = replyFor(query);
      if (reply.stallOverTcp) {
        // Until the client gives up and closes, or 3 s.
        pollfd p{client, POLLIN, 0};
        static_cast<void>(::poll(&p, 1, 3000));
      } else if (!reply.silent && !reply.silentOverTcp) {
        WireBytes out;
        if (reply.raw) {
          out = *reply.raw;
        } else {
          const WireBytes answer = buildAnswer(query, reply);
          putU16(out, static_cast<std::uint16_t>(answer.size()));
          append(out, answer);
        }
        sendAllBytes(client, out.data(), out.size());
      }
    }
  }
  ::close(client);
}

}  // namespace zarvik
