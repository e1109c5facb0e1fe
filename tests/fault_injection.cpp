// SPDX-License-Identifier: MIT
//
// Preloaded (LD_PRELOAD) into the program by the end-to-end tests, to put the
// save into situations that cannot be arranged from outside:
//   MEDIAN_FAULT_NO_TMPFILE=1   open() refuses O_TMPFILE, as file systems
//                               without unnamed files do;
//   MEDIAN_FAULT_SIGNAL_AT_FSYNC=<n>  the first fsync of a regular file,
//                               while the output is being saved, raises
//                               signal n first.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>

namespace {

using OpenFn = int (*)(const char*, int, ...);

int open_with(const char* name, const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) mode = va_arg(args, mode_t);
  if ((flags & O_TMPFILE) == O_TMPFILE && std::getenv("MEDIAN_FAULT_NO_TMPFILE")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const auto real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, name));
  return real(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_with("open", path, flags, args);
  va_end(args);
  return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_with("open64", path, flags, args);
  va_end(args);
  return fd;
}

extern "C" int fsync(int fd) {
  static bool raised = false;
  const char* signal = std::getenv("MEDIAN_FAULT_SIGNAL_AT_FSYNC");
  struct stat st;
  if (signal && !raised && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    raised = true;
    std::raise(std::atoi(signal));
  }
  const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}
