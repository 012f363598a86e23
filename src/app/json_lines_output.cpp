#include "app/json_lines_output.h"

#include "platform/console.h"

namespace zarvik {

bool JsonLinesOutput::writeLine(std::string_view line) const {
  if (line.empty() || line.find_first_of("\r\n") != std::string_view::npos) return false;
  std::string record;
  record.reserve(line.size() + 1);
  record.append(line).push_back('\n');
  if (path_) return appendToFile(path_->c_str(), record.data(), record.size());
  return writeStandardOutput(record.data(), record.size());
}

}  // namespace zarvik
