#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/output_sink.h"

namespace zarvik {

// Collects every line printed through the output sink while it lives. The
// lines are those printed by the test's own thread: the code under test
// prints from the thread that calls it.
class PrintedLines {
 public:
  PrintedLines() {
    previous_ = setLineObserver([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~PrintedLines() { setLineObserver(previous_); }
  PrintedLines(const PrintedLines&) = delete;
  PrintedLines& operator=(const PrintedLines&) = delete;

  bool contains(std::string_view line) const {
    for (const std::string& printed : lines) {
      if (printed == line) return true;
    }
    return false;
  }

  std::vector<std::string> lines;

 private:
  LineObserver previous_;
};

}  // namespace zarvik
