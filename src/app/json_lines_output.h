#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zarvik {

// Where the lines of the JSON report go: standard output (--json), or a
// file they are appended to (--json=FILE), each line complete with its LF
// in a single write, so a reader never sees half a record.
class JsonLinesOutput {
 public:
  // Standard output.
  JsonLinesOutput() = default;
  // The file at path, opened and closed for each line as the transcript's
  // file is (console.h appendToFile): created when missing, never truncated.
  explicit JsonLinesOutput(std::string path) : path_(std::move(path)) {}

  // Writes line and a LF. False, writing nothing, when the line is empty or
  // holds a CR or LF (it is then no single record); false when the write
  // failed.
  [[nodiscard]] bool writeLine(std::string_view line) const;

 private:
  std::optional<std::string> path_;
};

}  // namespace zarvik
