#include "base/process_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;

class ProcessRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_ / "bin"); }

  // Facts of a program at <root>/bin/zarvik with the given variables.
  ProcessFacts factsWith(const std::string& temp, const std::string& tmpdir) const {
    ProcessFacts facts;
    facts.exePath = SharedString(std::string_view(root_ / "bin/zarvik"));
    facts.tempVariable = SharedString(std::string_view(temp));
    facts.tmpdirVariable = SharedString(std::string_view(tmpdir));
    facts.startProcessId = 4321;
    facts.startTick = 77;
    return facts;
  }

  std::string folder(const std::string& name) const { return root_ / name; }
  std::string programFolder() const { return root_ / "bin/"; }

  TempFolder root_{"process"};
};

TEST_F(ProcessRecordTest, DerivesProgramFolderAndDefaultsPath) {
  ProcessRecord record(factsWith("", ""));
  EXPECT_EQ(record.programFolder().toStdString(), programFolder());
  EXPECT_EQ(record.defaultsPath().toStdString(), programFolder() + "zarvik.def");

  ProcessFacts withExtension;
  withExtension.exePath = "/opt/tools/zarvik.bin";
  ProcessRecord other(withExtension);
  EXPECT_EQ(other.programFolder(), "/opt/tools/");
  EXPECT_EQ(other.defaultsPath(), "/opt/tools/zarvik.def");

  ProcessRecord unknown{ProcessFacts{}};
  EXPECT_TRUE(unknown.programFolder().isEmpty());
  EXPECT_TRUE(unknown.defaultsPath().isEmpty());
}

TEST_F(ProcessRecordTest, WorkFolderIsTheFirstUsableCandidateButNeverTheProgramFolder) {
  fs::create_directories(folder("temp"));
  fs::create_directories(folder("tmpdir"));
  fs::create_directories(folder("tmp"));
  // Below a plain file nothing can be written or made, even as root.
  std::ofstream(folder("plain")) << "x";
  // Each value is a name under the test's folder, "" for unset, or (with
  // "./") a relative path as it stands.
  const struct {
    const char* temp;
    const char* tmpdir;
    const char* xdgCacheHome;
    const char* home;
    const char* systemTemp;
    const char* workFolder;  // under the test's folder; "" for none
  } cases[] = {
      {"temp", "tmpdir", "xdg", "home", "tmp", "temp/"},
      {"", "tmpdir/", "xdg", "home", "tmp", "tmpdir/"},
      {"", "", "xdg", "home", "tmp", "xdg/zarvik/"},
      {"", "", "", "home", "tmp", "home/.cache/zarvik/"},
      {"", "", "./relative", "home", "tmp", "home/.cache/zarvik/"},
      {"", "", "plain/xdg", "home", "tmp", "home/.cache/zarvik/"},
      {"", "", "", "plain/home", "tmp", "tmp/"},
      {"", "", "", "", "tmp", "tmp/"},
      {"", "", "", "", "", ""},
      {"plain/a", "plain/b", "plain/c", "plain/d", "plain/e", ""},
  };
  const auto value = [this](const char* name) {
    const std::string text(name);
    return SharedString(std::string_view(text.empty() || text.rfind("./", 0) == 0 ? text : folder(text)));
  };
  for (const auto& c : cases) {
    ProcessFacts facts = factsWith("", "");
    facts.tempVariable = value(c.temp);
    facts.tmpdirVariable = value(c.tmpdir);
    facts.xdgCacheHomeVariable = value(c.xdgCacheHome);
    facts.homeVariable = value(c.home);
    facts.systemTempFolder = value(c.systemTemp);
    ProcessRecord record(facts);
    const std::string expected = *c.workFolder == 0 ? "" : folder(c.workFolder);
    EXPECT_EQ(record.workFolder().toStdString(), expected)
        << c.temp << "|" << c.tmpdir << "|" << c.xdgCacheHome << "|" << c.home << "|" << c.systemTemp;
  }

  // The cache folders were made, with their parents, for the user alone;
  // the test files are gone again.
  for (const char* made : {"xdg", "xdg/zarvik", "home", "home/.cache", "home/.cache/zarvik"}) {
    EXPECT_EQ(fs::status(folder(made)).permissions(), fs::perms::owner_all) << made;
  }
  EXPECT_FALSE(fs::exists("relative"));
  for (const char* used : {"temp", "tmpdir", "tmp", "xdg/zarvik", "home/.cache/zarvik"}) {
    EXPECT_TRUE(fs::is_empty(folder(used))) << used;
  }
}

TEST_F(ProcessRecordTest, WorkFolderIsCreatedWhenMissing) {
  const std::string missing = folder("made/on/demand");
  ProcessRecord record(factsWith(missing, ""));
  EXPECT_EQ(record.workFolder().toStdString(), missing + "/");
  EXPECT_TRUE(fs::is_directory(missing));
}

TEST_F(ProcessRecordTest, UnusableCandidatesLeaveNoWorkFolder) {
  // A folder below a plain file can be neither written nor created, even as root.
  std::ofstream(folder("plain")) << "x";
  const std::string blocked = folder("plain") + "/sub";
  // Only the part before ";" counts, so the usable second folder is not tried.
  fs::create_directories(folder("second"));
  ProcessRecord record(factsWith(blocked + ";" + folder("second"), ""));
  EXPECT_EQ(record.workFolder().toStdString(), "");
  // Fixed once: later calls give the same folder.
  fs::remove(folder("plain"));
  EXPECT_EQ(record.workFolder().toStdString(), "");
}

TEST_F(ProcessRecordTest, VariableThatNamesNoFolderBeforeItsSemicolonIsSkipped) {
  // ";<folder>" leaves nothing before the ";": that is no folder, and the
  // work folder must not become "" (the current folder, without separator).
  fs::create_directories(folder("tmpdir"));
  ProcessRecord record(factsWith(";" + folder("temp"), folder("tmpdir")));
  EXPECT_EQ(record.workFolder().toStdString(), folder("tmpdir") + "/");
}

TEST_F(ProcessRecordTest, UniqueNamesUseBase36Counters) {
  ProcessRecord record(factsWith("", ""));
  const SharedString dir(std::string_view(folder("")));

  record.setCounters(34, 0);
  EXPECT_EQ(record.uniqueName(dir, "$TE", "").toStdString(), folder("$TE0000z"));
  EXPECT_TRUE(fs::exists(folder("$TE0000z")));  // created, so the name stays taken

  record.setCounters(ProcessRecord::kShortCounterLimit - 1, 0);
  EXPECT_EQ(record.uniqueName(dir, "a", "tmp").toStdString(), folder("azzzzy.tmp"));
  // After the last value the short counter starts again at 1.
  EXPECT_EQ(record.uniqueName(dir, "a", "tmp").toStdString(), folder("a00001.tmp"));

  // Without a prefix: the long counter with 8 digits, wrapping the same way.
  record.setCounters(0, ProcessRecord::kLongCounterLimit);
  EXPECT_EQ(record.uniqueName(dir, "", "dat").toStdString(), folder("00000001.dat"));
  EXPECT_EQ(record.uniqueName(dir, "", "").toStdString(), folder("00000002"));
}

TEST_F(ProcessRecordTest, UniqueNamesSkipExistingFiles) {
  ProcessRecord record(factsWith("", ""));
  std::ofstream(folder("p00002")) << "taken";
  record.setCounters(1, 1);
  // The folder is given without a trailing "/": one is added.
  EXPECT_EQ(record.uniqueName(SharedString(std::string_view(root_.path().string())), "p", "").toStdString(),
            folder("p00003"));
  EXPECT_TRUE(record.uniqueName(SharedString(std::string_view(folder("missing"))), "p", "").isEmpty());
}

TEST_F(ProcessRecordTest, UniqueNamesSkipLinksThatPointNowhere) {
  // A dangling link takes the name as much as a file does; it must not make
  // the folder look as if it refused new files.
  ProcessRecord record(factsWith("", ""));
  fs::create_symlink(folder("nowhere"), folder("q00002"));
  record.setCounters(1, 1);
  EXPECT_EQ(record.uniqueName(SharedString(std::string_view(folder(""))), "q", "").toStdString(), folder("q00003"));
  EXPECT_FALSE(fs::exists(folder("nowhere")));
}

TEST_F(ProcessRecordTest, RandomNumbersFollowTheSeededGenerator) {
  ProcessFacts odd;
  odd.startProcessId = 0x51234;  // only the low 16 bits count
  odd.startTick = 1;             // odd: seed = tick << 16 | pid, then 1 step
  ProcessRecord a(odd);
  EXPECT_EQ(a.nextRandom(), 26151);
  EXPECT_EQ(a.nextRandom(), 21640);
  EXPECT_EQ(a.nextRandom(), 9143);

  ProcessFacts even;
  even.startProcessId = 0x1234;
  even.startTick = 2;  // even: byte-swapped halves, then 2 steps
  ProcessRecord b(even);
  EXPECT_EQ(b.nextRandom(), 9264);
  EXPECT_EQ(b.nextRandom(), 1705);
  EXPECT_EQ(b.nextRandom(), 23470);

  for (int i = 0; i < 1000; ++i) {
    const std::int32_t value = b.nextRandom();
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 32767);
  }
}

TEST_F(ProcessRecordTest, TheEntryPointsRecordIsTheProcessWideOne) {
  ProcessRecord* before = &processRecord();  // a fallback when none is registered
  {
    ProcessRecord owned;
    EXPECT_EQ(&processRecord(), &owned);
    EXPECT_FALSE(owned.exePath().isEmpty());
    ProcessRecord second;  // only the first registers
    EXPECT_EQ(&processRecord(), &owned);
  }
  EXPECT_EQ(&processRecord(), before);
  EXPECT_GE(nextRandom(), 0);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    hadValue_ = old != nullptr;
    if (hadValue_) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (hadValue_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool hadValue_ = false;
  std::string old_;
};

TEST_F(ProcessRecordTest, FactsOfThisProcessReadTheEnvironment) {
  ScopedVariable temp("TEMP", "/some/where");
  ScopedVariable tmpdir("TMPDIR", "/else/where");
  ScopedVariable cache("XDG_CACHE_HOME", "/cache/home");
  ScopedVariable home("HOME", "/home/someone");
  const ProcessFacts facts = ProcessFacts::ofThisProcess();
  EXPECT_EQ(facts.tempVariable, "/some/where");
  EXPECT_EQ(facts.tmpdirVariable, "/else/where");
  EXPECT_EQ(facts.xdgCacheHomeVariable, "/cache/home");
  EXPECT_EQ(facts.homeVariable, "/home/someone");
  EXPECT_EQ(facts.systemTempFolder, "/tmp");
  EXPECT_EQ(facts.startProcessId, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(facts.exePath.at(0), '/');
}

}  // namespace

}  // namespace zarvik
