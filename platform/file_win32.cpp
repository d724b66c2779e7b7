#ifdef _WIN32

#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

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

FileRead read_regular_file(const std::string &path, std::size_t limit, std::string &text,
                           std::string &error) {
  struct _stat64 facts {};
  if (::_stat64(path.c_str(), &facts) != 0) {
    error = std::strerror(errno);
    return FileRead::failed;
  }
  if ((facts.st_mode & _S_IFMT) != _S_IFREG) {
    return FileRead::not_regular;
  }
  const int file = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (file < 0) {
    error = std::strerror(errno);
    return FileRead::failed;
  }
  text.assign(limit + 1, '\0');
  std::size_t got = 0;
  FileRead result = FileRead::ok;
  while (got < text.size()) {
    const int n = ::_read(file, &text[got], static_cast<unsigned>(text.size() - got));
    if (n < 0) {
      error = std::strerror(errno);
      result = FileRead::failed;
    }
    if (n <= 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  ::_close(file);
  text.resize(got);
  return result == FileRead::ok && got > limit ? FileRead::too_large : result;
}

FileState file_state(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts) == 0) {
    return {};
  }
  // Hundreds of nanoseconds since 1601.
  constexpr std::int64_t from_1601_to_1970 = 116444736000000000;
  const auto written =
      static_cast<std::int64_t>((std::uint64_t{facts.ftLastWriteTime.dwHighDateTime} << 32U) |
                                facts.ftLastWriteTime.dwLowDateTime);
  return {true, (std::uint64_t{facts.nFileSizeHigh} << 32U) | facts.nFileSizeLow,
          (written - from_1601_to_1970) * 100, 0};
}

} // namespace platform

#endif
