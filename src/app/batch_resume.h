#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

namespace zarvik {

// The targets an earlier batch run finished (--resume=FILE): those with a
// domain or error record in its report, by input line and text, so that a
// run over the same list goes on where the other stopped. A line that is
// not a whole record (the last one of a run that was killed) is passed
// over.
class BatchResume {
 public:
  // Reads the report at path; false with a sentence in error when it
  // cannot be read.
  bool load(const std::string& path, std::string& error);
  bool isDone(std::uint64_t line, std::string_view input) const;
  std::size_t size() const { return done_.size(); }

 private:
  static std::uint64_t keyOf(std::uint64_t line, std::string_view input);

  // Hashes, not the texts: a million finished targets take 8 bytes each
  // and a little more for the set.
  std::unordered_set<std::uint64_t> done_;
};

}  // namespace zarvik
