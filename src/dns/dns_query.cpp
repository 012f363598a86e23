#include "dns/dns_query.h"

#include <cstddef>

#include "base/process_record.h"
#include "dns/byte_reader.h"
#include "dns/dns_constants.h"
#include "platform/system_random.h"

namespace zarvik {

namespace {

// Room for the query of a name of nameLength characters: prefix, header,
// QNAME (at most nameLength + 2 bytes), QTYPE, QCLASS and the OPT record,
// with a few bytes to spare. Writes beyond the room are dropped.
constexpr std::size_t kRoomWithOpt = 39;
constexpr std::size_t kRoomWithoutOpt = 28;

// The largest message there can be: the length prefix of RFC 1035 section
// 4.2.2 has 16 bits, and no name that passes isEncodableDnsName() can make
// a query longer than this.
static_assert(kDnsMaxNameLength + kRoomWithOpt <= 0xFFFF);

std::string_view withoutTrailingDots(std::string_view name) {
  while (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

// Appends bytes to the buffer while it has room left and silently drops
// what does not fit, so an encoding can never write out of bounds.
class BoundedWriter {
 public:
  BoundedWriter(std::vector<std::uint8_t>& buffer, std::size_t room) : buffer_(buffer), room_(room) {
    buffer_.clear();
    buffer_.reserve(room);
  }

  void u8(std::uint8_t value) {
    if (buffer_.size() < room_) buffer_.push_back(value);
  }
  void u16(std::uint16_t value) {
    u8(static_cast<std::uint8_t>(value >> 8));
    u8(static_cast<std::uint8_t>(value & 0xFF));
  }
  std::size_t size() const { return buffer_.size(); }
  // Overwrites a byte already written (length bytes are known only later).
  void patch(std::size_t offset, std::uint8_t value) {
    if (offset < buffer_.size()) buffer_[offset] = value;
  }

 private:
  std::vector<std::uint8_t>& buffer_;
  std::size_t room_;
};

// Writes the name, which isEncodableDnsName() accepted, as length-prefixed
// labels and the terminating zero byte (RFC 1035 section 3.1).
void writeName(BoundedWriter& out, std::string_view name) {
  while (!name.empty()) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    out.u8(static_cast<std::uint8_t>(label.size()));
    for (const char c : label) out.u8(static_cast<std::uint8_t>(c));
    name = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  }
  out.u8(0);
}

}  // namespace

std::uint16_t dnsQueryIdFromRandom(std::uint32_t randomValue) {
  return static_cast<std::uint16_t>(randomValue % 65535u + 1u);
}

bool isEncodableDnsName(std::string_view name) {
  name = withoutTrailingDots(name);
  if (name.empty()) return true;
  std::size_t wireLength = 1;  // the final zero byte
  for (;;) {
    const std::size_t dot = name.find('.');
    const std::size_t labelLength = dot == std::string_view::npos ? name.size() : dot;
    if (labelLength == 0 || labelLength > kDnsMaxLabelLength) return false;
    wireLength += labelLength + 1;
    if (wireLength > kDnsMaxNameLength) return false;
    if (dot == std::string_view::npos) return true;
    name.remove_prefix(dot + 1);
  }
}

bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options, std::uint16_t id,
                    std::vector<std::uint8_t>& buffer) {
  if (!isEncodableDnsName(name)) {
    buffer.clear();
    return false;
  }
  name = withoutTrailingDots(name);
  const bool withOpt = (options & kDnsQueryOptionOpt) != 0;
  BoundedWriter out(buffer, name.size() + (withOpt ? kRoomWithOpt : kRoomWithoutOpt));

  out.u16(0);  // length prefix, set below
  out.u16(id);
  out.u8(kDnsFlagRD);
  out.u8(0);
  out.u16(1);  // QDCOUNT
  out.u16(0);  // ANCOUNT
  out.u16(0);  // NSCOUNT
  out.u16(withOpt ? 1 : 0);
  writeName(out, name);
  out.u16(queryType);
  out.u16(DnsClass::kIN);

  if (withOpt) {
    // RFC 6891 section 6.1.2: root owner, TYPE OPT, CLASS = requestor's UDP
    // payload size, TTL = extended RCODE, version, DO and zero flags.
    out.u8(0);
    out.u16(DnsType::kOPT);
    out.u16(kDnsOptPayloadSize);
    out.u8(0);
    out.u8(0);
    out.u16((options & kDnsQueryOptionDO) != 0 ? kDnsOptFlagDO : 0);
    out.u16(0);  // RDLENGTH: no options
  }

  const auto messageLength = static_cast<std::uint16_t>(out.size() - kDnsTcpPrefixSize);
  out.patch(0, static_cast<std::uint8_t>(messageLength >> 8));
  out.patch(1, static_cast<std::uint8_t>(messageLength & 0xFF));
  return true;
}

std::uint16_t dnsQueryId(std::span<const std::uint8_t> queryBuffer) {
  ByteReader reader(queryBuffer);
  std::uint16_t id = 0;
  if (!reader.skip(kDnsTcpPrefixSize) || !reader.readU16(id)) return 0;
  return id;
}

std::uint16_t newDnsQueryId() {
  std::uint16_t id = 0;
  if (fillWithSystemRandom(&id, sizeof id)) return id;
  return dnsQueryIdFromRandom(static_cast<std::uint32_t>(nextRandom()));
}

bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options,
                    std::vector<std::uint8_t>& buffer) {
  return encodeDnsQuery(name, queryType, options, newDnsQueryId(), buffer);
}

}  // namespace zarvik
