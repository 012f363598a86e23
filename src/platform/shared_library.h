#pragma once

#include <string>

namespace zarvik {

// A shared library loaded at run time (dlopen), closed when the object goes.
// Code that only an option needs loads its library this way, so that a run
// without the option pays nothing for it at start-up: the loader would
// otherwise map and relocate the library and everything it depends on.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;

  // Loads the library by its soname ("libcurl.so.4"); false with the
  // loader's message in error when it cannot.
  bool open(const char* soname, std::string& error);
  bool isOpen() const { return handle_ != nullptr; }
  // The address of a symbol, or null when the library has none of that name.
  void* symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace zarvik
