#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// What a process record is built from. ofThisProcess() reads the running
// process; tests give their own values.
struct ProcessFacts {
  SharedString exePath;               // full path of the program file; may be empty
  SharedString tempVariable;          // TEMP, empty when unset
  SharedString tmpdirVariable;        // TMPDIR, empty when unset
  SharedString xdgCacheHomeVariable;  // XDG_CACHE_HOME, empty when unset
  SharedString homeVariable;          // HOME, empty when unset
  SharedString systemTempFolder;      // the system's temporary folder ("/tmp")
  std::uint32_t startProcessId = 0;   // seeds the random generator with startTick
  std::uint32_t startTick = 0;

  static ProcessFacts ofThisProcess();
};

// The process-wide record: program paths, the work folder, the random number
// generator and the counters for unique file names. The entry point owns one
// for the whole run (the default constructor registers it as the process's
// record); everyone else reaches it through processRecord(). The run flag
// itself is RunFlag (base/run_flag.h), cleared by the signal handlers.
class ProcessRecord : public LockHolder {
 public:
  // The last short counter value before it starts again at 1 (5 base-36 digits).
  static constexpr std::uint32_t kShortCounterLimit = 60466174;
  // The last long counter value, 36^8 - 1 (8 base-36 digits).
  static constexpr std::uint64_t kLongCounterLimit = 2821109907455;

  // The record of this process, registered as processRecord() until destroyed.
  ProcessRecord();
  // A record built from the given facts and not registered (for tests).
  explicit ProcessRecord(const ProcessFacts& facts);
  ~ProcessRecord();
  ProcessRecord(const ProcessRecord&) = delete;
  ProcessRecord& operator=(const ProcessRecord&) = delete;

  const SharedString& exePath() const { return exePath_; }
  // The folder of exePath, ending with "/"; empty when the path is unknown.
  const SharedString& programFolder() const { return programFolder_; }
  // programFolder + the program's base name + ".def": the defaults file.
  const SharedString& defaultsPath() const { return defaultsPath_; }

  // The folder for temporary and cache files, ending with "/". Fixed on the
  // first call; the candidates in order: TEMP and TMPDIR, each cut at the
  // first ";"; $XDG_CACHE_HOME/zarvik and $HOME/.cache/zarvik, when the
  // variable is an absolute path (XDG Base Directory); the system's
  // temporary folder. Each is tested by creating and deleting a file in it,
  // and created when missing (the cache folders with mode 0700); the first
  // that passes stays. If none does, it is empty: no cache. Never the
  // program folder, which an installed program must not write to and which
  // removing the package would not clean.
  SharedString workFolder();

  // Pseudo-random number from 0 to 32767 (linear congruential generator).
  std::int32_t nextRandom();

  // Creates a new empty file folder + prefix + counter (+ "." + extension)
  // that did not exist before and returns its path; empty when no file could
  // be created. The counter text is the short counter in base 36 padded to 5
  // digits when prefix is not empty, else the long counter padded to 8.
  SharedString uniqueName(const SharedString& folder, std::string_view prefix, std::string_view extension);

  // Test seams: the counter values last used (the next name takes the next value).
  void setCounters(std::uint32_t shortCounter, std::uint64_t longCounter);

 private:
  void fixWorkFolder();
  bool testFolder(const SharedString& folder);
  SharedString nextCounterText(bool shortForm);

  struct WorkFolderCandidate {
    SharedString folder;     // ends with "/"
    bool userCache = false;  // a user's cache folder: created with mode 0700
  };

  bool registered_ = false;
  SharedString exePath_;
  SharedString programFolder_;
  SharedString defaultsPath_;
  SharedString workFolder_;
  LockedList<WorkFolderCandidate> workFolderCandidates_;
  bool workFolderFixed_ = false;

  std::mutex randomLock_;
  std::uint32_t randomSeed_ = 0;

  std::mutex counterLock_;
  std::uint32_t shortCounter_ = 0;
  std::uint64_t longCounter_ = 0;
};

// The registered record of this process, or, when the entry point has none
// (unit tests, tools), one built from this process's facts on first use.
ProcessRecord& processRecord();

// Shorthands for the same operations on processRecord().
std::int32_t nextRandom();
SharedString workFolder();
SharedString uniqueName(const SharedString& folder, std::string_view prefix, std::string_view extension);

}  // namespace zarvik
