#include "app/defaults_file.h"

#include "platform/file_handle.h"

namespace zarvik {

SharedString chooseDefaultsFile(const SharedString& besideProgram, const SharedString& systemPath) {
  for (const SharedString* path : {&besideProgram, &systemPath}) {
    if (!path->isEmpty() && fileExists(path->characters())) return *path;
  }
  return SharedString();
}

}  // namespace zarvik
