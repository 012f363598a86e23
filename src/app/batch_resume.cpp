#include "app/batch_resume.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/batch_input.h"

namespace zarvik {

std::uint64_t BatchResume::keyOf(std::uint64_t line, std::string_view input) {
  // FNV-1a over the line number's bytes and the text: a collision would
  // skip one target of 2^64.
  char number[8];
  for (std::size_t i = 0; i < sizeof number; ++i) number[i] = static_cast<char>(line >> (8 * i));
  return fnv1a64(input, fnv1a64(std::string_view(number, sizeof number)));
}

bool BatchResume::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  while (std::getline(in, text)) {
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    if (!record.is_object()) continue;
    const auto type = record.find("type");
    const auto line = record.find("line");
    const auto input = record.find("input");
    if (type == record.end() || line == record.end() || input == record.end() || !line->is_number_unsigned() ||
        !input->is_string() || (*type != "domain" && *type != "error")) {
      continue;
    }
    done_.insert(keyOf(line->get<std::uint64_t>(), input->get<std::string>()));
  }
  return true;
}

bool BatchResume::isDone(std::uint64_t line, std::string_view input) const {
  return done_.count(keyOf(line, input)) != 0;
}

}  // namespace zarvik
