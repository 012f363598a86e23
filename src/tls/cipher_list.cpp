#include "tls/cipher_list.h"

namespace zarvik {

void stripLegacyCipherTokens(SharedString& list) {
  for (const char* token : {":@NOSSLV2", ":@NOSSLV3", "@NOSSLV2", "@NOSSLV3"}) {
    if (list.isEmpty()) return;
    static_cast<void>(list.replaceAll(token, "", 1));
  }
}

SharedString effectiveCipherList(SharedString list) {
  stripLegacyCipherTokens(list);
  return list.isEmpty() ? SharedString(kDefaultCipherList) : list;
}

}  // namespace zarvik
