#include "dns/resolver.h"

#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

namespace {

// Splits at the first blank, or at the first comma when no blank is left,
// so that "a, b" and "a,b" both give two tokens. A token keeps no comma at
// its ends: "192.0.2.1," is the address in front of ", ". A comma inside a
// token ("a,b" followed by a blank) still makes it no address.
std::vector<std::string_view> splitServerText(std::string_view text) {
  std::vector<std::string_view> tokens;
  while (!text.empty()) {
    std::size_t separator = text.find(' ');
    if (separator == std::string_view::npos) separator = text.find(',');
    std::string_view token = text.substr(0, separator);
    while (!token.empty() && token.front() == ',') token.remove_prefix(1);
    while (!token.empty() && token.back() == ',') token.remove_suffix(1);
    if (!token.empty()) tokens.push_back(token);
    if (separator == std::string_view::npos) break;
    text.remove_prefix(separator + 1);
  }
  return tokens;
}

}  // namespace

Resolver::Resolver() { nameServers_.enableLock(); }

NameServerSelection Resolver::selectNameServers(const SharedString& text, SharedString& displayTextOut) {
  std::scoped_lock guard(lock_);
  nameServers_.clear();
  NameServerSelection selection;
  if (SharedString::compare(text.view(), kAutoDetect, SharedString::kIgnoreCase)) {
    selection = autoDetect() ? NameServerSelection::kAutoDetected : NameServerSelection::kNotDetected;
  } else {
    addServersFrom(text);
    selection = nameServers_.isEmpty() ? NameServerSelection::kNoneGiven : NameServerSelection::kGiven;
  }
  if (selection == NameServerSelection::kGiven || selection == NameServerSelection::kAutoDetected) {
    displayTextOut = displayText();
  }
  return selection;
}

void Resolver::addServersFrom(const SharedString& text) {
  for (std::string_view token : splitServerText(text.view())) {
    NameServer server{SharedString(token), IpAddress::none(), nameServerPort_};
    if (!server.address.parse(token)) continue;
    bool listed = false;
    ScopedLock listGuard(nameServers_);
    for (const NameServer& known : nameServers_) {
      // Two texts of one address (upper and lower case hex, or written with
      // and without "::") are the same server.
      if (known.address == server.address) listed = true;
    }
    if (!listed) nameServers_.append(server);
  }
}

bool Resolver::autoDetect() {
  for (const std::string& configured : readResolvConfNameServers(resolvConfPath_.characters())) {
    addServersFrom(SharedString(std::string_view(configured)));
  }
  return !nameServers_.isEmpty();
}

SharedString Resolver::displayText() const {
  SharedString text;
  ScopedLock listGuard(nameServers_);
  for (const NameServer& server : nameServers_) {
    if (!text.isEmpty()) text += ' ';
    text += server.text;
  }
  return text;
}

void Resolver::setUdp(bool useUdp) {
  std::scoped_lock guard(lock_);
  if (useUdp) {
    options_.second |= ResolverOptions::kUseUdp;
  } else {
    options_.second &= ~ResolverOptions::kUseUdp;
  }
}

void Resolver::setStepTimeout(std::uint32_t timeoutMs) {
  std::scoped_lock guard(lock_);
  options_.stepTimeoutMs = timeoutMs == 0 ? ResolverOptions::kDefaultStepTimeoutMs : timeoutMs;
}

void Resolver::setMode(std::int32_t mode) {
  std::scoped_lock guard(lock_);
  if (mode >= 0 && mode <= 2) mode_ = mode;
}

std::int32_t Resolver::mode() const {
  std::scoped_lock guard(lock_);
  return mode_;
}

std::int32_t Resolver::defaultPort() const {
  std::scoped_lock guard(lock_);
  return defaultPort_;
}

ResolverOptions Resolver::options() const {
  std::scoped_lock guard(lock_);
  return options_;
}

LockedList<NameServer> Resolver::nameServers() const {
  std::scoped_lock guard(lock_);
  return nameServers_;
}

bool Resolver::hasNameServers() const {
  std::scoped_lock guard(lock_);
  return !nameServers_.isEmpty();
}

void Resolver::setResolvConfPath(const SharedString& path) {
  std::scoped_lock guard(lock_);
  resolvConfPath_ = path;
}

void Resolver::setNameServerPort(std::uint16_t port) {
  std::scoped_lock guard(lock_);
  nameServerPort_ = port;
  ScopedLock listGuard(nameServers_);
  for (NameServer& server : nameServers_) server.port = port;
}

}  // namespace zarvik
