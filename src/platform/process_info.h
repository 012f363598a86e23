#pragma once

#include <cstdint>
#include <string>

namespace zarvik {

// Full path of the running program file, read from /proc/self/exe; empty
// when it cannot be read.
std::string programFilePath();

// The process id.
std::uint32_t processId();

// The value of an environment variable; empty when it is unset or empty.
std::string environmentValue(const char* name);

// The system's folder for temporary files ("/tmp"), without a trailing "/".
std::string systemTempFolder();

}  // namespace zarvik
