#include "tls/tls_policy.h"

namespace zarvik {

bool verdictAcceptable(const Verdict& verdict, const TlsPolicy& policy) {
  return !policy.judges() || !verdict.hasLow(Verdict::kViolation);
}

}  // namespace zarvik
