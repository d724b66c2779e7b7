#ifndef _WIN32

#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int create_file(const std::string &path, bool replace, std::string &error) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
  const int file = ::open(path.c_str(), flags, 0644);
  if (file < 0) {
    error = std::strerror(errno);
  }
  return file;
}

long write_file(int file, const char *bytes, std::size_t size, std::string &error) {
  ssize_t written = 0;
  do {
    written = ::write(file, bytes, size);
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error = std::strerror(errno);
  }
  return static_cast<long>(written);
}

bool cut_file(int file, std::int64_t size) {
  const auto length = static_cast<off_t>(size);
  return ::ftruncate(file, length) == 0 && ::lseek(file, length, SEEK_SET) == length;
}

void close_file(int file) { ::close(file); }

} // namespace platform

#endif
