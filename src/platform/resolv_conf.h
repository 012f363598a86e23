#pragma once

#include <string>
#include <vector>

namespace zarvik {

// The system's resolver configuration file (resolv.conf(5)).
inline constexpr const char* kSystemResolvConfPath = "/etc/resolv.conf";

// Reads the configured name servers from the file at path: the word after
// each "nameserver" keyword, in file order. Lines starting with "#" or ";"
// are comments; keyword and value are separated by blanks or tabs. A file
// that cannot be read, is no regular file or is larger than 1 MiB yields an
// empty list. The values are not checked.
std::vector<std::string> readResolvConfNameServers(const char* path);

}  // namespace zarvik
