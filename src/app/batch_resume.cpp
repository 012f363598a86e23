#include "app/batch_resume.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

namespace zarvik {

std::uint64_t BatchResume::keyOf(std::uint64_t line, std::string_view input) {
  // FNV-1a over the line number and the text: a collision would skip one
  // target of 2^64.
  std::uint64_t hash = 14695981039346656037ULL;
  const auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  };
  for (int shift = 0; shift < 64; shift += 8) mix(static_cast<unsigned char>(line >> shift));
  for (const char c : input) mix(static_cast<unsigned char>(c));
  return hash;
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
