// Files written a line at a time, each line handed to the operating system in
// one write, so that a process killed outright loses at most the line it was
// writing.
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

} // namespace platform
