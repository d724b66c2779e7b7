// The monitor page's files, built into the tap so that it works with no
// network: generated at build time from web/page/ and the browser example.
#pragma once

#include <cstddef>
#include <string_view>

struct WebFile {
  const char *path; // "/" for the page itself
  const char *type; // its Content-Type
  const unsigned char *data;
  std::size_t size;
  bool inline_script; // a page that is one file, its script inside it
};

// The file served at `path`, or null.
const WebFile *find_web_file(std::string_view path);
