#pragma once

#include <array>
#include <string_view>

namespace zarvik {

// The lines of the help text, in order; an empty entry is an empty line.
// The internal switches "-IP", "-QTLS" and "-@" are deliberately not listed.
extern const std::array<std::string_view, 27> kHelpLines;

// Prints the help text through printLine, one line per entry.
void printHelp();

}  // namespace zarvik
