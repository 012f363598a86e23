#pragma once

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// The peer a handshake is for, borrowed from the session: the name the
// session reached it by (the server name of RFC 6066 section 3, and the
// name its certificate must carry) and the TLSA records its host publishes
// (RFC 6698), one line each as the resolver writes them.
struct TlsTarget {
  const SharedString& hostName;
  const LockedList<SharedString>& tlsaLines;
};

}  // namespace zarvik
