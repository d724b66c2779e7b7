#ifndef _WIN32

#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

FileRead read_regular_file(const std::string &path, std::size_t limit, std::string &text,
                           std::string &error) {
  // Without waiting for a writer, should it be a pipe.
  const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) {
    error = std::strerror(errno);
    return FileRead::failed;
  }
  struct stat facts {};
  FileRead result = FileRead::ok;
  if (::fstat(file, &facts) != 0 || !S_ISREG(facts.st_mode)) {
    result = FileRead::not_regular;
  }
  text.assign(result == FileRead::ok ? limit + 1 : 0, '\0');
  std::size_t got = 0;
  while (result == FileRead::ok && got < text.size()) {
    const ssize_t n = ::read(file, &text[got], text.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      error = std::strerror(errno);
      result = FileRead::failed;
    }
    if (n <= 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  ::close(file);
  text.resize(got);
  return result == FileRead::ok && got > limit ? FileRead::too_large : result;
}

FileState file_state(const std::string &path) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) != 0) {
    return {};
  }
  return {true, static_cast<std::uint64_t>(facts.st_size),
          static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec,
          static_cast<std::uint64_t>(facts.st_ino) ^
              (static_cast<std::uint64_t>(facts.st_dev) << 40U)};
}

} // namespace platform

#endif
