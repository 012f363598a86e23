#pragma once

#include <cstdint>

namespace zarvik {

// Which command a reply answers. The kind selects the default enhanced
// status codes (RFC 3463) and the special rules of the reply judgement.
enum class ReplyKind : std::int32_t {
  kGeneric = 1,         // STARTTLS, QUIT, NOOP
  kConnection = 2,      // greeting, EHLO, HELO
  kSecurityPolicy = 3,  // security-policy refusals; sent by no command of this program
  kMailFrom = 4,
  kRcptTo = 5,
  kMessageData = 6,  // replies of the data phase; this program sends no message data
};

}  // namespace zarvik
