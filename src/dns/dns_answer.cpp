#include "dns/dns_answer.h"

#include <array>
#include <string>

#include "dns/byte_reader.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"

namespace zarvik {

namespace {

// The smallest question is a root name and TYPE and CLASS; the smallest
// record a root name and the fixed fields with RDLENGTH 0. Counts that ask
// for more entries than the answer's bytes could hold are refused before
// anything is decoded.
constexpr std::size_t kMinQuestionSize = 1 + kDnsQuestionFixedSize;
constexpr std::size_t kMinRecordSize = 1 + kDnsRecordFixedSize;

// A name of at most 255 octets has at most 127 labels, so no sound name
// needs more pointers than that; the bound keeps a hostile chain of pointers
// from costing more than a handful of steps per name.
constexpr int kMaxPointerHops = 128;

ResultCode headerCodeForRcode(std::uint8_t rcode, bool truncated) {
  switch (rcode) {
    case DnsRcode::kNoError: return ResultCode::kOk;
    case DnsRcode::kFormErr: return ResultCode::kDnsFormatError;
    case DnsRcode::kServFail: return ResultCode::kDnsServerFailure;
    case DnsRcode::kNXDomain: return ResultCode::kDnsNameError;
    case DnsRcode::kNotImp: return ResultCode::kDnsNotImplemented;
    case DnsRcode::kRefused: return ResultCode::kDnsRefused;
    default: return truncated ? ResultCode::kDnsShortAnswer : ResultCode::kDnsUnknownError;
  }
}

// Reads a name that starts at the reader's position: its inline bytes must
// lie within the reader (the record's RDATA), while a compression pointer
// may lead anywhere in the whole message.
bool readName(std::span<const std::uint8_t> message, ByteReader& reader, SharedString& name) {
  std::size_t consumed = 0;
  return decodeDnsName(message, reader.position(), name, consumed) && reader.skip(consumed);
}

// One character-string (RFC 1035 section 3.3): a length byte and that many
// bytes.
bool readCharacterString(ByteReader& reader, std::span<const std::uint8_t>& text) {
  std::uint8_t length = 0;
  return reader.readU8(length) && reader.readBytes(length, text);
}

SharedString textOf(std::span<const std::uint8_t> bytes) {
  return SharedString(reinterpret_cast<const char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
}

SharedString upperHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex(bytes.size() * 2, '0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return SharedString(std::string_view(hex));
}

// TXT, SPF and NULL: every character-string of the RDATA joined.
ResultCode decodeJoinedText(ByteReader& rdata, DnsRecord& record) {
  std::string joined;
  std::size_t strings = 0;
  while (!rdata.atEnd()) {
    if (++strings > kDnsMaxTextStrings) return ResultCode::kDnsFormatError;
    std::span<const std::uint8_t> text;
    if (!readCharacterString(rdata, text)) return ResultCode::kDnsShortAnswer;
    joined.append(reinterpret_cast<const char*>(text.data()), text.size());
  }
  record.text1 = SharedString(std::string_view(joined));
  return ResultCode::kOk;
}

// Decodes the RDATA of record; rdata spans exactly the RDLENGTH bytes, so
// nothing of a record is read from beyond it (names may still point back
// into the rest of the message).
ResultCode decodeRdata(std::span<const std::uint8_t> message, ByteReader& rdata, DnsRecord& record) {
  bool ok = true;
  switch (record.type) {
    case DnsType::kA: {
      // RDATA longer than 4 bytes uses the first 4; shorter RDATA gives no
      // address, like an AAAA of the wrong size.
      std::uint32_t value = 0;
      if (rdata.readU32(value)) record.address = IpAddress::fromIPv4(value);
      break;
    }
    case DnsType::kAAAA: {
      std::span<const std::uint8_t> bytes;
      if (rdata.remaining() == 16 && rdata.readBytes(16, bytes)) {
        record.address = IpAddress::fromIPv6NetworkOrder(bytes.data());
      }
      break;
    }
    case DnsType::kNS:
    case DnsType::kMD:
    case DnsType::kMF:
    case DnsType::kCNAME:
    case DnsType::kMB:
    case DnsType::kMG:
    case DnsType::kMR:
    case DnsType::kPTR: ok = readName(message, rdata, record.text1); break;
    case DnsType::kMX: ok = rdata.readU16(record.preference) && readName(message, rdata, record.text1); break;
    case DnsType::kSOA:
      ok = readName(message, rdata, record.text1) && readName(message, rdata, record.text2) &&
           rdata.readU32(record.soaSerial) && rdata.readU32(record.soaRefresh) && rdata.readU32(record.soaRetry) &&
           rdata.readU32(record.soaExpire) && rdata.readU32(record.soaMinimum);
      break;
    case DnsType::kHINFO: {
      std::span<const std::uint8_t> cpu;
      std::span<const std::uint8_t> os;
      ok = readCharacterString(rdata, cpu) && readCharacterString(rdata, os);
      if (ok) {
        record.text1 = textOf(cpu);
        record.text2 = textOf(os);
      }
      break;
    }
    case DnsType::kMINFO:
      // RFC 1035 section 3.3.7: RMAILBX and EMAILBX are domain names.
      ok = readName(message, rdata, record.text1) && readName(message, rdata, record.text2);
      break;
    case DnsType::kNULL:
    case DnsType::kTXT:
    case DnsType::kSPF: return decodeJoinedText(rdata, record);
    case DnsType::kTLSA: {
      // RFC 6698 section 2.1: usage, selector, matching type, then the
      // certificate association data up to the end of the RDATA.
      std::span<const std::uint8_t> data;
      ok = rdata.readU8(record.tlsaUsage) && rdata.readU8(record.tlsaSelector) &&
           rdata.readU8(record.tlsaMatchingType) && rdata.readBytes(rdata.remaining(), data);
      if (ok) record.text1 = upperHex(data);
      break;
    }
    default: break;
  }
  return ok ? ResultCode::kOk : ResultCode::kDnsShortAnswer;
}

// The name, type and class of one question (RFC 1035 section 4.1.2).
struct Question {
  SharedString name;
  std::uint16_t type = 0;
  std::uint16_t questionClass = 0;
};

// Reads the question at offset of message; end receives the offset after it.
bool readQuestion(std::span<const std::uint8_t> message, std::size_t offset, Question& question, std::size_t& end) {
  std::size_t consumed = 0;
  if (!decodeDnsName(message, offset, question.name, consumed)) return false;
  ByteReader reader(message);
  if (!(reader.seek(offset + consumed) && reader.readU16(question.type) && reader.readU16(question.questionClass))) {
    return false;
  }
  end = reader.position();
  return true;
}

ResultCode decodeEntries(std::span<const std::uint8_t> answer, LockedList<DnsRecord>& questions,
                         LockedList<DnsRecord>& records) {
  ByteReader reader(answer);
  std::uint16_t questionCount = 0;
  std::uint16_t answerCount = 0;
  std::uint16_t authorityCount = 0;
  std::uint16_t additionalCount = 0;
  if (!(reader.skip(4) && reader.readU16(questionCount) && reader.readU16(answerCount) &&
        reader.readU16(authorityCount) && reader.readU16(additionalCount))) {
    return ResultCode::kDnsShortAnswer;
  }
  const std::size_t recordCount = std::size_t{answerCount} + authorityCount + additionalCount;
  if (questionCount == 0 && recordCount == 0) return ResultCode::kDnsNoData;
  if (questionCount * kMinQuestionSize + recordCount * kMinRecordSize > reader.remaining()) {
    return ResultCode::kDnsShortAnswer;
  }

  for (std::size_t i = 0; i < questionCount + recordCount; ++i) {
    DnsRecord entry;
    if (!readName(answer, reader, entry.owner)) return ResultCode::kDnsShortAnswer;
    std::uint16_t recordClass = 0;
    if (i < questionCount) {
      if (!(reader.readU16(entry.type) && reader.readU16(recordClass))) return ResultCode::kDnsShortAnswer;
      entry.isQuestion = true;
      entry.section = DnsSection::kQuestion;
      if (!questions.append(std::move(entry))) return ResultCode::kDnsShortAnswer;
      continue;
    }
    const std::size_t recordIndex = i - questionCount;
    entry.section = recordIndex < answerCount                    ? DnsSection::kAnswer
                    : recordIndex < answerCount + authorityCount ? DnsSection::kAuthority
                                                                 : DnsSection::kAdditional;
    std::uint16_t rdataLength = 0;
    std::span<const std::uint8_t> rdataBytes;
    if (!(reader.readU16(entry.type) && reader.readU16(recordClass) && reader.readU32(entry.ttl) &&
          reader.readU16(rdataLength))) {
      return ResultCode::kDnsShortAnswer;
    }
    const std::size_t rdataStart = reader.position();
    if (!reader.readBytes(rdataLength, rdataBytes)) return ResultCode::kDnsShortAnswer;
    // RFC 6891 section 6.1.1: OPT is a pseudo-record about the transport,
    // not data of the zone.
    if (entry.type == DnsType::kOPT) continue;

    ByteReader rdata(answer.first(rdataStart + rdataLength));
    if (!rdata.seek(rdataStart)) return ResultCode::kDnsShortAnswer;
    const ResultCode decoded = decodeRdata(answer, rdata, entry);
    if (failed(decoded)) return decoded;
    if (!records.append(std::move(entry))) return ResultCode::kDnsShortAnswer;
  }
  return ResultCode::kOk;
}

}  // namespace

ResultCode checkDnsAnswerHeader(std::span<const std::uint8_t> queryBuffer, std::span<const std::uint8_t> answer) {
  ByteReader reader(answer);
  std::uint16_t id = 0;
  std::uint8_t flags2 = 0;
  std::uint8_t flags3 = 0;
  if (!(reader.readU16(id) && reader.readU8(flags2) && reader.readU8(flags3))) {
    return ResultCode::kDnsShortAnswer;
  }
  if (id != dnsQueryId(queryBuffer)) return ResultCode::kDnsUnknownError;
  return headerCodeForRcode(flags3 & kDnsRcodeMask, (flags2 & kDnsFlagTC) != 0);
}

bool dnsAnswerMatchesQuery(std::span<const std::uint8_t> queryBuffer, std::span<const std::uint8_t> answer) {
  if (queryBuffer.size() < kDnsTcpPrefixSize) return false;
  const std::span<const std::uint8_t> query = queryBuffer.subspan(kDnsTcpPrefixSize);
  Question wanted;
  std::size_t end = 0;
  if (!readQuestion(query, kDnsHeaderSize, wanted, end)) return false;

  ByteReader header(answer);
  std::uint8_t flags2 = 0;
  std::uint16_t questionCount = 0;
  if (!(header.skip(2) && header.readU8(flags2) && header.skip(1) && header.readU16(questionCount))) return false;
  if ((flags2 & kDnsFlagQR) == 0) return false;
  std::size_t at = kDnsHeaderSize;
  for (std::uint16_t i = 0; i < questionCount; ++i) {
    Question asked;
    if (!readQuestion(answer, at, asked, at)) return false;
    const bool sameName = SharedString::compare(asked.name.view(), wanted.name.view(),
                                                SharedString::kIgnoreCase | SharedString::kEqualLength);
    if (!sameName || asked.type != wanted.type || asked.questionClass != wanted.questionClass) return false;
  }
  return true;
}

bool dnsAnswerAuthenticated(std::span<const std::uint8_t> answer) {
  ByteReader reader(answer);
  std::uint8_t flags3 = 0;
  return reader.skip(3) && reader.readU8(flags3) && (flags3 & kDnsFlagAD) != 0;
}

ResultCode decodeDnsAnswer(std::span<const std::uint8_t> answer, LockedList<DnsRecord>& questions,
                           LockedList<DnsRecord>& records) {
  questions.clear();
  records.clear();
  const ResultCode result = decodeEntries(answer, questions, records);
  if (failed(result)) {
    questions.clear();
    records.clear();
  }
  return result;
}

bool decodeDnsName(std::span<const std::uint8_t> message, std::size_t offset, SharedString& name,
                   std::size_t& consumed) {
  ByteReader reader(message);
  if (!reader.seek(offset)) return false;
  const std::size_t length = message.size();
  // The text of a name within 255 octets is at most 254 characters.
  std::array<char, kDnsMaxNameLength> text{};
  std::size_t textLength = 0;
  std::size_t wireLength = 1;  // the final zero byte
  std::size_t walked = 0;      // label bytes plus 2 per pointer; ends pointer loops
  int hops = 0;
  bool followedPointer = false;

  while (reader.position() < length && walked < length) {
    std::uint8_t lead = 0;
    if (!reader.readU8(lead)) return false;
    if (lead == 0) {
      if (!followedPointer) consumed = reader.position() - offset;
      name.assign(text.data(), static_cast<std::int32_t>(textLength));
      return true;
    }
    if (lead >= kDnsPointerMark) {
      std::uint8_t low = 0;
      if (!reader.readU8(low)) return false;
      if (!followedPointer) consumed = reader.position() - offset;
      followedPointer = true;
      if (++hops > kMaxPointerHops) return false;
      const std::size_t target = ((std::size_t{lead} << 8) | low) & kDnsPointerOffsetMask;
      if (!reader.seek(target)) return false;
      walked += 2;
      continue;
    }
    // 0x40..0xBF are the extended and reserved label types (RFC 6891
    // section 5), which nothing here understands.
    if (lead > kDnsMaxLabelLength) return false;
    std::span<const std::uint8_t> label;
    if (!reader.readBytes(lead, label)) return false;
    wireLength += std::size_t{lead} + 1;
    if (wireLength > kDnsMaxNameLength) return false;
    if (textLength > 0) text[textLength++] = '.';
    for (std::uint8_t c : label) text[textLength++] = static_cast<char>(c);
    walked += std::size_t{lead} + 1;
  }
  return false;
}

}  // namespace zarvik
