#include "platform/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace zarvik {

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool SharedLibrary::open(const char* soname, std::string& error) {
  // RTLD_LOCAL keeps the library's symbols out of the lookups of other
  // libraries; RTLD_NOW finds a missing dependency here, not mid-run.
  void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : "cannot load the library";
    return false;
  }
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = handle;
  return true;
}

void* SharedLibrary::symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name);
}

}  // namespace zarvik
