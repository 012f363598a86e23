#include "base/process_record.h"

#include <chrono>
#include <initializer_list>

#include "platform/clock.h"
#include "platform/file_handle.h"
#include "platform/private_folder.h"
#include "platform/process_info.h"

namespace zarvik {

namespace {

// Process-wide because it describes the process itself (its program file,
// environment and work folder), the same for every run in it.
std::atomic<ProcessRecord*> registeredRecord{nullptr};

// The bound on attempts to find a free name, so that a folder that is full or
// unwritable ends the search instead of looping for ever.
constexpr int kMaxNameAttempts = 10000;

SharedString withTrailingSlash(SharedString folder) {
  if (!folder.isEmpty() && folder.at(folder.length() - 1) != '/') folder.append('/');
  return folder;
}

// A folder list as it may come from a Windows-style variable: only the part
// before the first ";" counts.
SharedString firstFolderOf(const SharedString& value) {
  SharedString folder(value);
  const std::int32_t semicolon = folder.findChar(';');
  if (semicolon >= 0) folder.cut(semicolon);
  return withTrailingSlash(folder);
}

bool isAbsolute(const SharedString& path) { return !path.isEmpty() && path.at(0) == '/'; }

std::uint32_t swapBytes16(std::uint32_t value) { return ((value & 0xFF) << 8) | ((value >> 8) & 0xFF); }

}  // namespace

ProcessFacts ProcessFacts::ofThisProcess() {
  ProcessFacts facts;
  facts.exePath = SharedString(std::string_view(programFilePath()));
  facts.tempVariable = SharedString(std::string_view(environmentValue("TEMP")));
  facts.tmpdirVariable = SharedString(std::string_view(environmentValue("TMPDIR")));
  facts.xdgCacheHomeVariable = SharedString(std::string_view(environmentValue("XDG_CACHE_HOME")));
  facts.homeVariable = SharedString(std::string_view(environmentValue("HOME")));
  facts.systemTempFolder = SharedString(std::string_view(zarvik::systemTempFolder()));
  facts.startProcessId = processId();
  facts.startTick = tickCount();
  return facts;
}

ProcessRecord::ProcessRecord() : ProcessRecord(ProcessFacts::ofThisProcess()) {
  ProcessRecord* expected = nullptr;
  registered_ = registeredRecord.compare_exchange_strong(expected, this);
}

ProcessRecord::ProcessRecord(const ProcessFacts& facts) {
  enableLock();

  // Seed: the process id's low 16 bits with the tick count, in one of two
  // arrangements chosen by the tick count's lowest bit, then a number of
  // steps that also depends on the tick count.
  const std::uint32_t pid = facts.startProcessId & 0xFFFF;
  const std::uint32_t tick = facts.startTick;
  if ((tick & 1) != 0) {
    randomSeed_ = (tick << 16) | pid;
  } else {
    randomSeed_ = (swapBytes16(tick & 0xFFFF) << 16) | swapBytes16(pid);
  }
  for (std::uint32_t i = tick % 1000; i > 0; --i) (void)nextRandom();

  // Start the name counters at points derived from the clock, so that runs
  // in a row rarely probe the same names.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  const auto millis = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  shortCounter_ = static_cast<std::uint32_t>(seconds % kShortCounterLimit);
  longCounter_ = millis % kLongCounterLimit;

  exePath_ = facts.exePath;
  const std::int32_t lastSlash = static_cast<std::int32_t>(exePath_.view().rfind('/'));
  if (!exePath_.isEmpty() && lastSlash >= 0) {
    programFolder_ = SharedString(exePath_.characters(), lastSlash + 1);
    SharedString baseName(exePath_.view().substr(static_cast<std::size_t>(lastSlash) + 1));
    const std::int32_t dot = static_cast<std::int32_t>(baseName.view().rfind('.'));
    if (dot > 0) baseName.cut(dot);
    defaultsPath_ = programFolder_ + baseName + ".def";
  }

  // A variable with nothing before its first ";" names no folder; taken as
  // "" it would put the work files in whatever the current folder is.
  for (const SharedString* variable : {&facts.tempVariable, &facts.tmpdirVariable}) {
    SharedString candidate = firstFolderOf(*variable);
    if (!candidate.isEmpty()) workFolderCandidates_.append({candidate, false});
  }
  // The XDG Base Directory rules: a relative path in XDG_CACHE_HOME is
  // ignored, and without it the cache is $HOME/.cache.
  if (isAbsolute(facts.xdgCacheHomeVariable)) {
    workFolderCandidates_.append({withTrailingSlash(facts.xdgCacheHomeVariable).append("zarvik/"), true});
  }
  if (isAbsolute(facts.homeVariable)) {
    workFolderCandidates_.append({withTrailingSlash(facts.homeVariable).append(".cache/zarvik/"), true});
  }
  if (isAbsolute(facts.systemTempFolder)) {
    workFolderCandidates_.append({withTrailingSlash(facts.systemTempFolder), false});
  }
  workFolder_ = workFolderCandidates_.isEmpty() ? SharedString() : workFolderCandidates_[1].folder;
}

ProcessRecord::~ProcessRecord() {
  if (registered_) registeredRecord.store(nullptr);
}

std::int32_t ProcessRecord::nextRandom() {
  std::lock_guard<std::mutex> guard(randomLock_);
  randomSeed_ = randomSeed_ * 1103515245u + 12345u;
  return static_cast<std::int32_t>((randomSeed_ >> 16) & 0x7FFF);
}

SharedString ProcessRecord::workFolder() {
  ScopedLock guard(*this);
  if (!workFolderFixed_) fixWorkFolder();
  return workFolder_;
}

void ProcessRecord::fixWorkFolder() {
  workFolderFixed_ = true;
  for (const WorkFolderCandidate& candidate : workFolderCandidates_) {
    const SharedString& folder = candidate.folder;
    if (testFolder(folder) ||
        ((candidate.userCache ? createPrivateFolders(folder.view()) : createFolders(folder.characters())) &&
         testFolder(folder))) {
      workFolder_ = folder;
      return;
    }
  }
  workFolder_ = SharedString();
}

bool ProcessRecord::testFolder(const SharedString& folder) {
  const SharedString probe = uniqueName(folder, "$TE", "");
  return !probe.isEmpty() && deleteFile(probe.characters());
}

SharedString ProcessRecord::nextCounterText(bool shortForm) {
  std::lock_guard<std::mutex> guard(counterLock_);
  SharedString text;
  if (shortForm) {
    shortCounter_ = shortCounter_ >= kShortCounterLimit ? 1 : shortCounter_ + 1;
    text = SharedString::fromInteger(shortCounter_, 36);
    text.padLeft(5, '0');
  } else {
    longCounter_ = longCounter_ >= kLongCounterLimit ? 1 : longCounter_ + 1;
    text = SharedString::fromInteger(static_cast<std::int64_t>(longCounter_), 36);
    text.padLeft(8, '0');
  }
  return text;
}

SharedString ProcessRecord::uniqueName(const SharedString& folder, std::string_view prefix,
                                       std::string_view extension) {
  const SharedString base = withTrailingSlash(folder).append(prefix);
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    SharedString name = base + nextCounterText(!prefix.empty());
    if (!extension.empty()) name.append('.').append(extension);
    // Created exclusively, so a name that exists (also as a dangling link)
    // or that another process takes at the same moment is never reused.
    FileHandle file;
    if (file.open(name.characters(), FileMode::kCreateNew)) {
      (void)file.close();
      return name;
    }
    if (!fileExists(name.characters())) return SharedString();  // the folder refuses new files
  }
  return SharedString();
}

void ProcessRecord::setCounters(std::uint32_t shortCounter, std::uint64_t longCounter) {
  std::lock_guard<std::mutex> guard(counterLock_);
  shortCounter_ = shortCounter;
  longCounter_ = longCounter;
}

ProcessRecord& processRecord() {
  if (ProcessRecord* record = registeredRecord.load()) return *record;
  static ProcessRecord fallback(ProcessFacts::ofThisProcess());
  return fallback;
}

std::int32_t nextRandom() { return processRecord().nextRandom(); }

SharedString workFolder() { return processRecord().workFolder(); }

SharedString uniqueName(const SharedString& folder, std::string_view prefix, std::string_view extension) {
  return processRecord().uniqueName(folder, prefix, extension);
}

}  // namespace zarvik
