#include "app/command_line_base.h"

#include "base/text_file.h"

namespace zarvik {

namespace {

constexpr char kBlank = ' ';

// Far more than any list of switches needs; a FIFO, a device such as
// /dev/zero or a larger file would block the start or fill memory.
constexpr std::int64_t kMaxSwitchFileBytes = std::int64_t{1} << 20;

}  // namespace

CommandLineBase::CommandLineBase(int argc, const char* const* argv, const SharedString& defaultsPath)
    : rawTail(joinArguments(argc, argv)) {
  splitTail(rawTail.view(), tokens);
  if (!defaultsPath.isEmpty()) appendFileLines(defaultsPath, tokens);
  followResponseFiles();
}

SharedString CommandLineBase::joinArguments(int argc, const char* const* argv) {
  SharedString tail;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    if (i > 1) tail.append(kBlank);
    tail.append(argv[i]);
  }
  return tail;
}

void CommandLineBase::splitTail(std::string_view tail, LockedList<SharedString>& tokens) {
  SharedString token;
  bool tokenBegun = false;
  bool previousWasBlank = true;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = tail[i];
    const bool startsSwitch = c == '-' && previousWasBlank && i + 1 < tail.size() && tail[i + 1] != kBlank;
    if (startsSwitch) {
      if (!token.isEmpty()) tokens.append(token);
      token.clear();
      tokenBegun = true;
    }
    if (tokenBegun) token.append(c);
    previousWasBlank = c == kBlank;
  }
  if (!token.isEmpty()) tokens.append(token);
}

void CommandLineBase::appendFileLines(const SharedString& path, LockedList<SharedString>& tokens) {
  // A path with an embedded 0 byte would name a different, shorter path.
  if (path.findChar('\0') >= 0) return;
  TextFile file;
  if (!file.openRegularFile(path, kMaxSwitchFileBytes)) return;
  // Collected first, so that a file that fails half-way adds nothing.
  LockedList<SharedString> lines;
  SharedString line;
  while (file.readLine(line)) {
    if (!line.isEmpty()) lines.append(line);
  }
  if (!file.readFailed()) tokens.appendAll(lines);
  (void)file.close();
}

void CommandLineBase::followResponseFiles() {
  // The names are collected before any response file is read, so a "-@"
  // line inside a response file is never followed.
  LockedList<SharedString> names;
  for (const SharedString& token : tokens) {
    if (!token.view().starts_with("-@")) continue;
    SharedString name(token.view().substr(2));
    name.trimBlanks();
    if (!name.isEmpty()) names.append(name);
  }
  for (const SharedString& name : names) appendFileLines(name, tokens);
}

}  // namespace zarvik
