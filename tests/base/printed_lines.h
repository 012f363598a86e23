#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/output_sink.h"

namespace zarvik {

// An output sink for the code under test that also collects every line
// printed to it, as printed, while it lives.
class PrintedLines {
 public:
  PrintedLines() {
    sink.setLineObserver([this](std::string_view line) { lines.emplace_back(line); });
  }
  PrintedLines(const PrintedLines&) = delete;
  PrintedLines& operator=(const PrintedLines&) = delete;

  bool contains(std::string_view line) const {
    for (const std::string& printed : lines) {
      if (printed == line) return true;
    }
    return false;
  }

  OutputSink sink;
  std::vector<std::string> lines;
};

}  // namespace zarvik
