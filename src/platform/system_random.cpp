#include "platform/system_random.h"

#include <sys/random.h>

namespace zarvik {

bool fillWithSystemRandom(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    // Requests of up to 256 bytes are never cut short once the generator is
    // ready; an interruption (only possible while it is not) is not tried
    // again, so that a termination request is not held up.
    const ssize_t got = ::getrandom(bytes, size, 0);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace zarvik
