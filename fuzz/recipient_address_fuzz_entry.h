#pragma once

// The body of the recipient address fuzzer, shared with the test that
// replays its seed corpus: the grammar of -t (RFC 5321 section 4.1.2 with
// RFC 5322 comments) and the mailbox reader of the envelope.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/recipient_address.h"
#include "smtp/mailbox.h"

namespace zarvik {

// Parses the input both ways and tells whether the results keep their
// promises: the halves of an accepted address are within their bounds, the
// domain holds only its own characters, and the halves joined by "@" are
// accepted again with the same halves; a mailbox never holds a control
// character.
inline bool recipientAddressFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RecipientAddress address;
  if (parseRecipientAddress(text, address)) {
    const std::string_view local = address.localPart.view();
    const std::string_view domain = address.domain.view();
    if (local.empty() || domain.empty() || domain.size() > kMaxRecipientDomainLength) return false;
    if (local.size() + domain.size() > kMaxRecipientAddressLength) return false;
    if (domain.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.:[]") !=
            std::string_view::npos ||
        domain.find("..") != std::string_view::npos) {
      return false;
    }
    RecipientAddress again;
    const SharedString joined = address.localPart + "@" + address.domain;
    if (!parseRecipientAddress(joined.view(), again)) return false;
    if (again.localPart != address.localPart || again.domain != address.domain) return false;
  }

  Mailbox mailbox;
  if (parseMailbox(text, mailbox)) {
    if (containsControlCharacter(mailbox.address.view())) return false;
    if (!mailbox.isNull() && mailbox.address.view().find(mailbox.domain.view()) == std::string_view::npos) {
      return false;
    }
  } else if (!mailbox.address.isEmpty()) {
    return false;
  }
  return true;
}

}  // namespace zarvik
