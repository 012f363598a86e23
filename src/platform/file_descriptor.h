#pragma once

namespace zarvik {

// Owns one POSIX file descriptor (a file, a folder, a socket) and closes it
// when destroyed, so that no path out of a function leaks one. Move-only.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes ownership of descriptor (-1 for none).
  explicit FileDescriptor(int descriptor) noexcept : descriptor_(descriptor) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool isValid() const { return descriptor_ >= 0; }
  // The descriptor, still owned; -1 when there is none.
  int get() const { return descriptor_; }
  // Gives up ownership without closing; the caller must close it.
  [[nodiscard]] int release() noexcept;
  // Closes the descriptor held, if any, ignoring a failure, and takes
  // ownership of descriptor.
  void reset(int descriptor = -1) noexcept;
  // Closes the descriptor held: 0, or the errno of close(2) (a failure can
  // mean that written data never reached a file, e.g. on NFS). Either way
  // the descriptor is gone. 0 when none was held.
  [[nodiscard]] int close() noexcept;

 private:
  int descriptor_ = -1;
};

}  // namespace zarvik
