#include "app/defaults_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

TEST(DefaultsFile, BesideTheProgramFirstThenTheSystemOne) {
  struct Case {
    bool beside;
    bool system;
    const char* chosen;  // "beside", "system" or ""
  };
  for (const Case& c :
       {Case{true, true, "beside"}, Case{true, false, "beside"}, Case{false, true, "system"}, Case{false, false, ""}}) {
    TempFolder folder("defaults");
    const SharedString beside(folder / "zarvik.def");
    const SharedString system(folder / "etc-zarvik.def");
    // An empty file counts: it hides the system-wide one.
    if (c.beside) std::ofstream(beside.characters()) << "";
    if (c.system) std::ofstream(system.characters()) << "-u\n";
    const std::string chosen = chooseDefaultsFile(beside, system).toStdString();
    const std::string expected = std::string(c.chosen) == "beside"   ? beside.toStdString()
                                 : std::string(c.chosen) == "system" ? system.toStdString()
                                                                     : "";
    EXPECT_EQ(chosen, expected) << c.beside << c.system;
  }
  // A program whose own path is unknown has no file beside it.
  TempFolder folder("defaults");
  const SharedString system(folder / "etc-zarvik.def");
  std::ofstream(system.characters()) << "";
  EXPECT_EQ(chooseDefaultsFile(SharedString(), system), system);
  EXPECT_EQ(std::string(kSystemDefaultsPath), "/etc/zarvik/zarvik.def");
}

}  // namespace

}  // namespace zarvik
