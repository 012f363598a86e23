#pragma once

#include <cstdint>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// The command line of the program as a list of switch tokens, without any
// knowledge of what the switches mean.
//
// A token is a "-" and everything up to the next "-" that follows a blank
// and is itself followed by a non-blank, so a value may contain blanks and
// quotes have no meaning. The tokens of the command line come first, then
// the non-empty lines of the defaults file (which therefore override the
// command line), then the non-empty lines of the response files named by
// "-@<file>" tokens.
class CommandLineBase {
 public:
  // argv[1..argc-1] joined by single blanks form the command-line tail.
  // defaultsPath names the defaults file; an empty path or a missing file
  // adds nothing.
  CommandLineBase(int argc, const char* const* argv, const SharedString& defaultsPath);
  virtual ~CommandLineBase() = default;
  CommandLineBase(const CommandLineBase&) = delete;
  CommandLineBase& operator=(const CommandLineBase&) = delete;

  // The arguments joined by single blanks; empty without arguments.
  static SharedString joinArguments(int argc, const char* const* argv);

  // Appends the tokens of a command-line tail to tokens. Only the blank
  // (code 32) separates; a tab is an ordinary character. Characters before
  // the first token are dropped.
  static void splitTail(std::string_view tail, LockedList<SharedString>& tokens);

  // Where a token came from: file is empty for the command line, else the
  // path of the defaults or response file as it was named, and line the
  // number of its line in that file (from 1, empty lines counted).
  struct TokenOrigin {
    SharedString file;
    std::int32_t line = 0;
  };

  // Appends every non-empty line of the file at path, as it stands (a CR
  // before the LF removed, nothing trimmed), to tokens, and its origin to
  // origins when given. A file that is missing, unreadable, no regular file
  // or larger than 1 MiB adds nothing.
  static void appendFileLines(const SharedString& path, LockedList<SharedString>& tokens,
                              LockedList<TokenOrigin>* origins = nullptr);

  // "<file> line <n>" for the first of the tokens whose text is token, when
  // it came from a file; empty when it came from the command line or no
  // token has that text.
  SharedString originOf(std::string_view token) const;

  SharedString rawTail;
  LockedList<SharedString> tokens;
  LockedList<TokenOrigin> origins;  // one per token, in the same order

 private:
  void followResponseFiles();
};

}  // namespace zarvik
