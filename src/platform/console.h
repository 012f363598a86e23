#pragma once

#include <cstddef>

namespace zarvik {

// Writes all bytes to standard output, retrying after interruptions and
// short writes. False when the descriptor refused the bytes (closed pipe,
// full disk, no standard output); callers that print lines ignore it.
bool writeStandardOutput(const char* bytes, std::size_t length);
// The same on standard error.
bool writeStandardError(const char* bytes, std::size_t length);
// True when standard error is a terminal, where a progress line may
// overwrite itself.
bool standardErrorIsTerminal();

// Appends the bytes to the file at path, creating it (mode 0644) when it does
// not exist and never truncating it. The file is opened and closed within the
// call, so nothing stays open between lines. Nothing waits: a FIFO gets the
// bytes only while a reader has it open and only as far as they fit. False
// on any failure.
bool appendToFile(const char* path, const char* bytes, std::size_t length);

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is
// closed, so that no file or socket opened later takes its number: with
// descriptor 1 closed, the first socket would receive every printed line.
// Called first thing at start-up. False when one could not be reopened.
bool reopenClosedStandardDescriptors();

}  // namespace zarvik
