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
  for (std::int32_t i = 1; i <= tokens.count(); ++i) origins.append(TokenOrigin{});
  if (!defaultsPath.isEmpty()) appendFileLines(defaultsPath, tokens, &origins);
  followResponseFiles();
}

SharedString CommandLineBase::originOf(std::string_view token) const {
  for (std::int32_t i = 1; i <= tokens.count(); ++i) {
    if (tokens[i].view() != token) continue;
    if (i > origins.count() || origins[i].file.isEmpty()) return SharedString();
    return origins[i].file + " line " + SharedString::fromInteger(origins[i].line);
  }
  return SharedString();
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

void CommandLineBase::appendFileLines(const SharedString& path, LockedList<SharedString>& tokens,
                                      LockedList<TokenOrigin>* origins) {
  // A path with an embedded 0 byte would name a different, shorter path.
  if (path.findChar('\0') >= 0) return;
  TextFile file;
  if (!file.openRegularFile(path, kMaxSwitchFileBytes)) return;
  // Collected first, so that a file that fails half-way adds nothing.
  LockedList<SharedString> lines;
  LockedList<TokenOrigin> lineOrigins;
  SharedString line;
  std::int32_t number = 0;
  while (file.readLine(line)) {
    ++number;
    if (line.isEmpty()) continue;
    lines.append(line);
    lineOrigins.append(TokenOrigin{path, number});
  }
  if (!file.readFailed()) {
    tokens.appendAll(lines);
    if (origins != nullptr) origins->appendAll(lineOrigins);
  }
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
  for (const SharedString& name : names) appendFileLines(name, tokens, &origins);
}

}  // namespace zarvik
