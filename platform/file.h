// Files written a line at a time, each line handed to the operating system in
// one write, so that a process killed outright loses at most the line it was
// writing; small text files read whole; and what a file is now, to notice
// that it changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Creates `path` for writing; an existing file is an error unless `replace`.
// Returns -1 and sets `error` to the system's reason on failure.
int create_file(const std::string &path, bool replace, std::string &error);
// One write of the whole line: the bytes written, fewer on a full disk, or -1
// with the system's reason in `error`.
long write_file(int file, const char *bytes, std::size_t size, std::string &error);
// Shortens the file to its first `size` bytes and writes on from there.
bool cut_file(int file, std::int64_t size);
void close_file(int file);

enum class FileRead { ok, not_regular, too_large, failed };
// Reads a regular file of at most `limit` bytes whole into `text`. Anything
// else (a pipe, a device, a folder) is refused before a byte is read, as a
// read from it could wait for ever; `error` says why for failed.
FileRead read_regular_file(const std::string &path, std::size_t limit, std::string &text,
                           std::string &error);

struct FileState {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0; // since 1970, as precise as the file system keeps it
  std::uint64_t identity = 0;   // another file saved in its place has another (0 where unknown)
};
FileState file_state(const std::string &path);

} // namespace platform
