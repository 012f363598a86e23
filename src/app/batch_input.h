#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>

namespace zarvik {

// The list of a batch run (--batch): one target per line, read as a
// stream, a line at a time, so that a list of millions never sits in
// memory.

// One line that names a target, blanks around it removed.
struct BatchLine {
  std::uint64_t number = 0;  // from 1, counting every line of the input
  std::string text;
  bool tooLong = false;  // longer than kMaxBatchLineBytes; text holds its start
};

// A domain is at most 253 octets, an address 254 (RFC 5321 section
// 4.5.3.1.3); a line longer than this names no target.
inline constexpr std::size_t kMaxBatchLineBytes = 1024;

class BatchInput {
 public:
  // Reads path, or standard input for "-". isOpen() tells whether it could.
  explicit BatchInput(const std::string& path);
  BatchInput(const BatchInput&) = delete;
  BatchInput& operator=(const BatchInput&) = delete;

  bool isOpen() const { return in_ != nullptr; }
  // The next line that is neither blank nor a comment ("#" first); false
  // at the end of the input or when reading fails (failed() then).
  bool next(BatchLine& line);
  bool failed() const { return failed_; }
  // The lines read so far, skipped ones included.
  std::uint64_t linesRead() const { return number_; }

 private:
  std::ifstream file_;
  std::istream* in_ = nullptr;
  std::uint64_t number_ = 0;
  bool failed_ = false;
};

// How many lines of a file name targets, for the progress line; 0 for
// standard input or a file that cannot be read.
std::uint64_t countBatchTargets(const std::string& path);

// What a line names.
struct BatchTarget {
  enum class Kind { kDomain, kAddress };
  Kind kind = Kind::kDomain;
  std::string domain;   // the domain, or the address's domain
  std::string address;  // the whole address; empty for a domain
};

// Reads a target: "user@domain" is an address (RFC 5321 section 4.1.2),
// anything else must be a domain name of letters, digits, "-", "_" and
// dots. False with a short reason otherwise.
bool parseBatchTarget(std::string_view text, BatchTarget& target, std::string& reason);

// The shard of a line (--shard=I/N): the 64-bit FNV-1a hash of its text in
// lower case, modulo count. Documented, so that other tools can split a
// list the same way.
std::uint32_t batchShardOf(std::string_view text, std::uint32_t count);

// FNV-1a, 64 bits, of bytes, continuing from hash (the offset basis to
// start).
inline constexpr std::uint64_t kFnv1aOffsetBasis = 14695981039346656037ULL;
std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t hash = kFnv1aOffsetBasis);

}  // namespace zarvik
