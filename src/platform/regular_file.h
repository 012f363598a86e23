#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvik {

// Reads the whole file at path when it is a regular file of at most maxBytes.
// It is opened without blocking (O_NONBLOCK, O_NOCTTY), so that a FIFO or a
// device named by mistake cannot hold the program, and checked after opening,
// so that what is read is what was checked. False for anything else: a
// missing file, a folder, a FIFO or device, a path holding a NUL byte, a file
// larger than maxBytes, or a read error.
bool readRegularFile(std::string_view path, std::size_t maxBytes, std::string& contents);

// The same for a descriptor already open for reading (closed by the
// caller).
bool readOpenRegularFile(int descriptor, std::size_t maxBytes, std::string& contents);

}  // namespace zarvik
