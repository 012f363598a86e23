#pragma once

#include "base/shared_string.h"

namespace zarvik {

// Where the defaults file is looked for when none lies beside the program:
// host-wide configuration belongs under /etc (FHS section 3.7), and a
// packaged program in /usr/bin must not look for its settings there.
inline constexpr const char* kSystemDefaultsPath = "/etc/zarvik/zarvik.def";

// The defaults file of a run: besideProgram (the program's folder, its base
// name and ".def") when something exists at that path, else systemPath when
// something exists there, else an empty path, which reads no defaults file.
// Only the first file found is read, so one beside the program hides the
// system-wide one entirely. The program passes kSystemDefaultsPath; tests
// pass a path of their own.
SharedString chooseDefaultsFile(const SharedString& besideProgram, const SharedString& systemPath);

}  // namespace zarvik
