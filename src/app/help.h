#pragma once

#include <array>
#include <string_view>

#include "base/output_sink.h"

namespace zarvik {

// The lines of the help text, in order; an empty entry is an empty line.
// The internal switches "-IP", "-QTLS" and "-@" are deliberately not listed.
extern const std::array<std::string_view, 27> kHelpLines;

// The lines that --help prints after kHelpLines: an empty line, a heading
// of their own and the extension options, in the layout of the classic help.
extern const std::array<std::string_view, 18> kExtensionHelpLines;

// Prints the help text, one line per entry.
void printHelp(OutputSink& output);

// Prints the help text and then kExtensionHelpLines: the answer to --help.
void printFullHelp(OutputSink& output);

}  // namespace zarvik
