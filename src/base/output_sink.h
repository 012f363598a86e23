#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// Called with each printed line (as printed, without CR LF).
using LineObserver = std::function<void(std::string_view line)>;

// Where one run's lines go: standard output and, once an output file is set,
// that file. Each run (and each test) has its own, handed down to whatever
// prints, so two runs in one process never share an output file, an
// observer or the width of their transcript labels. Used by one thread at a
// time.
class OutputSink {
 public:
  // The width of the transcript's line labels before a longer label widened
  // them.
  static constexpr std::int32_t kInitialLabelWidth = 4;

  OutputSink() = default;
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Writes one line, followed by CR LF, to standard output and, once an
  // output file is set, appends it to that file first (opened and closed per
  // line, so the file is complete at every moment). Every C0 control byte
  // but TAB, DEL, and the UTF-8 form of each C1 control (C2 80 to C2 9F) are
  // printed as one "?" each, on both: the line may hold text from a peer,
  // which must neither start lines of its own nor drive the terminal. Every
  // failure is silent.
  void printLine(const SharedString& line);

  // Sets the file that every later line is also appended to. Set once, after
  // the command line was validated.
  void setOutputFilePath(const SharedString& path) { outputFilePath_ = path; }
  const SharedString& outputFilePath() const { return outputFilePath_; }

  // Whether lines go to standard output at all; the file and the observer
  // get them either way. Off when standard output carries another format.
  void setConsole(bool console) { console_ = console; }

  // While an observer is installed, each printed line is also handed to it.
  // Returns the previous observer.
  LineObserver setLineObserver(LineObserver observer);

  // The width labels of this transcript are padded to; a longer label
  // widens it for every later line (see transcriptLabel()).
  std::int32_t labelWidth() const { return labelWidth_; }
  void setLabelWidth(std::int32_t width) { labelWidth_ = width; }

 private:
  SharedString outputFilePath_;
  LineObserver observer_;
  bool console_ = true;
  std::int32_t labelWidth_ = kInitialLabelWidth;
};

}  // namespace zarvik
