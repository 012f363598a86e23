#pragma once

#include <string_view>

#include "base/output_sink.h"
#include "base/shared_string.h"

namespace zarvik {

// "Zarvik v" and the full version of project() in CMakeLists.txt.
extern const std::string_view kVersionLine;

// The version line of the OpenSSL library the program runs with, which may
// be newer than the one it was built against.
SharedString tlsLibraryVersionLine();

// Prints kVersionLine and then tlsLibraryVersionLine(): the answer to
// --version.
void printVersion(OutputSink& output);

}  // namespace zarvik
