#pragma once

#include <functional>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// Writes one line, followed by CR LF, to standard output and, once an output
// file is set, appends it to that file first (opened and closed per line, so
// the file is complete at every moment). Every C0 control byte but TAB, DEL,
// and the UTF-8 form of each C1 control (C2 80 to C2 9F) are printed as one
// "?" each, on both: the line may hold text from a peer, which must neither
// start lines of its own nor drive the terminal. Every failure is silent.
void printLine(const SharedString& line);

// Sets the file that every later line is also appended to. Set once, after
// the command line was validated.
void setOutputFilePath(const SharedString& path);
const SharedString& outputFilePath();

// Test seam: while an observer is installed, each printed line (as printed,
// without CR LF) is also handed to it. Returns the previous observer.
using LineObserver = std::function<void(std::string_view line)>;
LineObserver setLineObserver(LineObserver observer);

}  // namespace zarvik
