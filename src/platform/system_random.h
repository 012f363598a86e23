#pragma once

#include <cstddef>

namespace zarvik {

// Fills the buffer with size bytes from the operating system's
// cryptographically secure generator (getrandom(2)), for values a peer must
// not be able to predict, such as DNS query IDs (RFC 5452 section 9.2).
// False when the system gave fewer bytes: no such call, or a signal before
// the generator was ready at boot; the buffer is then unspecified.
[[nodiscard]] bool fillWithSystemRandom(void* buffer, std::size_t size);

}  // namespace zarvik
