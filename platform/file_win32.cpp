#ifdef _WIN32

#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace platform {

int create_file(const std::string &path, bool replace, std::string &error) {
  const int flags =
      _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | (replace ? _O_TRUNC : _O_EXCL);
  const int file = ::_open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (file < 0) {
    error = std::strerror(errno);
  }
  return file;
}

long write_file(int file, const char *bytes, std::size_t size, std::string &error) {
  const int written = ::_write(file, bytes, static_cast<unsigned>(size));
  if (written < 0) {
    error = std::strerror(errno);
  }
  return written;
}

bool cut_file(int file, std::int64_t size) {
  return ::_chsize_s(file, size) == 0 && ::_lseeki64(file, size, SEEK_SET) == size;
}

void close_file(int file) { ::_close(file); }

} // namespace platform

#endif
