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

TEST_F(ProcessRecordTest, WorkFolderPrefersTempThenTmpdirThenProgramFolder) {
  fs::create_directories(folder("temp"));
  fs::create_directories(folder("tmpdir"));
  ProcessRecord both(factsWith(folder("temp"), folder("tmpdir")));
  EXPECT_EQ(both.workFolder().toStdString(), folder("temp") + "/");

  ProcessRecord tmpdirOnly(factsWith("", folder("tmpdir") + "/"));
  EXPECT_EQ(tmpdirOnly.workFolder().toStdString(), folder("tmpdir") + "/");

  ProcessRecord neither(factsWith("", ""));
  EXPECT_EQ(neither.workFolder().toStdString(), programFolder());

  // The test files are gone again.
  EXPECT_TRUE(fs::is_empty(folder("temp")));
  EXPECT_TRUE(fs::is_empty(folder("tmpdir")));
}

TEST_F(ProcessRecordTest, WorkFolderIsCreatedWhenMissing) {
  const std::string missing = folder("made/on/demand");
  ProcessRecord record(factsWith(missing, ""));
  EXPECT_EQ(record.workFolder().toStdString(), missing + "/");
  EXPECT_TRUE(fs::is_directory(missing));
}

TEST_F(ProcessRecordTest, UnusableCandidatesFallBackToTheProgramFolder) {
  // A folder below a plain file can be neither written nor created, even as root.
  std::ofstream(folder("plain")) << "x";
  const std::string blocked = folder("plain") + "/sub";
  // Only the part before ";" counts, so the usable second folder is not tried.
  fs::create_directories(folder("second"));
  ProcessRecord record(factsWith(blocked + ";" + folder("second"), ""));
  EXPECT_EQ(record.workFolder().toStdString(), programFolder());
  // Fixed once: later calls give the same folder.
  EXPECT_EQ(record.workFolder().toStdString(), programFolder());
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
  const ProcessFacts facts = ProcessFacts::ofThisProcess();
  EXPECT_EQ(facts.tempVariable, "/some/where");
  EXPECT_EQ(facts.tmpdirVariable, "/else/where");
  EXPECT_EQ(facts.startProcessId, static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(facts.exePath.at(0), '/');
}

}  // namespace

}  // namespace zarvik
