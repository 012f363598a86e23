#pragma once

#include <cstdint>
#include <mutex>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/shared_string.h"
#include "platform/resolv_conf.h"

namespace zarvik {

// The resolver's two option words, and the bound of each step of an
// exchange with a name server. The caller's options (built from the
// address-family preferences) are combined with the resolver's own before
// each lookup: the words ORed, the lower of the two bounds kept.
struct ResolverOptions {
  // Bits of the second word.
  static constexpr std::uint32_t kPreferIPv6 = 0x80;   // "-IPv6": IPv6 addresses first
  static constexpr std::uint32_t kPreferIPv4 = 0x100;  // "-IPv4": no AAAA queries, IPv4 first
  static constexpr std::uint32_t kUseUdp = 0x40000;    // UDP rather than TCP
  // Each step of an exchange (connect, send, every receive) waits this long
  // unless the resolver was given a lower bound.
  static constexpr std::uint32_t kDefaultStepTimeoutMs = 10000;

  std::uint32_t first = 0;
  std::uint32_t second = 0;
  std::uint32_t stepTimeoutMs = kDefaultStepTimeoutMs;

  // From a 64-bit flag set laid out like TranscriptFlags: low word first.
  // The flags carry no time bound; the default one is taken.
  static constexpr ResolverOptions fromFlags(std::uint64_t flags) {
    return {static_cast<std::uint32_t>(flags), static_cast<std::uint32_t>(flags >> 32)};
  }
  constexpr std::uint64_t toFlags() const { return (std::uint64_t{second} << 32) | first; }
  constexpr ResolverOptions operator|(ResolverOptions other) const {
    const std::uint32_t bound = stepTimeoutMs < other.stepTimeoutMs ? stepTimeoutMs : other.stepTimeoutMs;
    return {first | other.first, second | other.second, bound};
  }

  // The IPv6 preference wins when both are given.
  constexpr bool prefersIPv6() const { return (second & kPreferIPv6) != 0; }
  constexpr bool prefersIPv4() const { return (second & kPreferIPv4) != 0 && !prefersIPv6(); }
  constexpr bool usesUdp() const { return (second & kUseUdp) != 0; }
};

// One name server: its address text as given, and the parsed address.
// The port name servers listen on (RFC 1035 section 4.2).
inline constexpr std::uint16_t kDnsPort = 53;

struct NameServer {
  SharedString text;
  IpAddress address;
  std::uint16_t port = kDnsPort;
};

// Outcome of Resolver::selectNameServers().
enum class NameServerSelection : std::int32_t {
  kGiven = 0,         // the given text yielded at least one server
  kNoneGiven = 1,     // the given text yielded none; the list is empty
  kAutoDetected = 3,  // the system configuration yielded at least one server
  kNotDetected = 4,   // the system configuration yielded none; the list is empty
};

// The DNS client's state for one run: the name servers it asks (only those,
// in list order), its option words, lookup mode and the port given to mail
// host entries. Every member is read and written under the object's lock;
// the lookups work on snapshots.
class Resolver {
 public:
  static constexpr std::int32_t kMailPort = 25;
  // The word that asks for the system's configured name servers.
  static constexpr const char* kAutoDetect = "AutoDetect";

  Resolver();
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  // Replaces the name server list. text is either "AutoDetect" (any letter
  // case, trailing blanks ignored), which reads the system configuration, or
  // address literals separated by blanks or commas; names and duplicates are
  // dropped silently. For kGiven and kAutoDetected, displayText receives the
  // servers' texts joined by single blanks; otherwise it is left alone.
  NameServerSelection selectNameServers(const SharedString& text, SharedString& displayText);

  // UDP (true) or TCP (false) for every later exchange.
  void setUdp(bool useUdp);
  // Stores 0, 1 or 2; larger values (and negative ones) leave the mode alone.
  void setMode(std::int32_t mode);
  // Bounds each step of every later exchange (connect, send, every receive)
  // by timeoutMs; 0 restores ResolverOptions::kDefaultStepTimeoutMs.
  void setStepTimeout(std::uint32_t timeoutMs);

  std::int32_t mode() const;
  std::int32_t defaultPort() const;
  ResolverOptions options() const;
  // A copy of the name server list, taken under the lock.
  LockedList<NameServer> nameServers() const;
  bool hasNameServers() const;

  // Test seams: the file auto-detection reads (default /etc/resolv.conf),
  // and the port every name server of the list, now and later, is asked on
  // (default kDnsPort).
  void setResolvConfPath(const SharedString& path);
  void setNameServerPort(std::uint16_t port);

 private:
  // Adds every address literal of text that is not listed yet.
  void addServersFrom(const SharedString& text);
  bool autoDetect();
  SharedString displayText() const;

  mutable std::recursive_mutex lock_;
  LockedList<NameServer> nameServers_;
  ResolverOptions options_;
  std::int32_t mode_ = 0;
  std::int32_t defaultPort_ = kMailPort;
  std::uint16_t nameServerPort_ = kDnsPort;
  SharedString resolvConfPath_{kSystemResolvConfPath};
};

}  // namespace zarvik
