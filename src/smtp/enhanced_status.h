#pragma once

#include <cstdint>
#include <string_view>

#include "base/shared_string.h"
#include "smtp/capability_list.h"
#include "smtp/reply_kind.h"

namespace zarvik {

// The enhanced status code (RFC 3463, class.subject.detail) that a reply
// line carries after its reply code, e.g. "5.1.1" in "550 5.1.1 No such
// user". Only read when the server announced ENHANCEDSTATUSCODES (RFC 2034);
// otherwise, and when the text is not of the recognised form, the result is
// empty. Recognised: at least five characters up to the first blank, the
// first "2", "4" or "5", the second and fourth ".", digits from the fifth
// on. The subject must be one character, so "5.10.1" is not recognised.
SharedString enhancedCode(const CapabilityList& capabilities, std::string_view line);

// The enhanced status code assigned to a refusal that carries none: the
// kind's own table, then the entries shared by all kinds, then the kind's
// fallback for codes below 500 and for 500 and above.
SharedString defaultEnhancedCode(ReplyKind kind, std::int32_t replyCode);

}  // namespace zarvik
