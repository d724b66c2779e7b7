#include "ringsim/stamps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void Stamps::write() const {
  if (path.empty()) {
    return;
  }
  const std::string partial = path + ".partial";
  std::FILE *file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "ringsim: cannot write %s: %s\n", partial.c_str(), std::strerror(errno));
    return;
  }
  for (const long long time : times) {
    std::fprintf(file, "%lld\n", time);
  }
  std::fclose(file);
  std::remove(path.c_str());
  std::rename(partial.c_str(), path.c_str());
}
