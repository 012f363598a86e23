#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/output_sink.h"

// Collects every line printed through the output sink while it lives.
class PrintedLines {
 public:
  PrintedLines() {
    previous_ = setLineObserver([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~PrintedLines() { setLineObserver(previous_); }
  PrintedLines(const PrintedLines&) = delete;
  PrintedLines& operator=(const PrintedLines&) = delete;

  std::vector<std::string> lines;

 private:
  LineObserver previous_;
};
