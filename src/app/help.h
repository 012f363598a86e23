#pragma once

#include <array>
#include <string_view>

namespace zarvik {

// The lines of the help text, in order; an empty entry is an empty line.
// The internal switches "-IP", "-QTLS" and "-@" are deliberately not listed.
extern const std::array<std::string_view, 27> kHelpLines;

// The lines that --help prints after kHelpLines: an empty line, a heading
// of their own and the extension options, in the layout of the classic help.
extern const std::array<std::string_view, 5> kExtensionHelpLines;

// Prints the help text through printLine, one line per entry.
void printHelp();

// Prints the help text and then kExtensionHelpLines: the answer to --help.
void printFullHelp();

}  // namespace zarvik
