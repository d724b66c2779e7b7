// Each --map FILE read again when it changes while the tap runs, an
// editor's save by rename included. A change is read once the file has
// stood still for one look (a save still being written is not read half);
// what reads without a mistake and differs from the running map is handed
// out to replace it. A file with mistakes, or one that disappears, changes
// nothing: it is said once per change of the file.
#pragma once

#include "maps/map_file.h"
#include "platform/file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class MapWatcher {
public:
  static constexpr std::int64_t look_every_us = 100000;
  // A file written within this long ago is read again at each look, as a
  // file system's times are coarser than a quick second save.
  static constexpr std::int64_t recent_ns = 2000000000;

  using Tell = std::function<void(const std::string &)>;
  // `texts`: what each map running now was read from.
  MapWatcher(std::vector<std::string> paths, std::vector<std::string> texts, Tell tell);

  struct Replacement {
    std::size_t map; // in the order of the command line
    MapFile file;
  };
  // Looks at most every look_every_us, at `now_us` on a steady clock and
  // `wall_ns` on the clock files are stamped with.
  std::vector<Replacement> look(std::int64_t now_us, std::int64_t wall_ns);
  bool due(std::int64_t now_us) const { return now_us - last_look_us >= look_every_us; }
  // The mistakes of the files whose edits were refused, for the view.
  std::vector<std::string> mistakes() const;

private:
  struct Watched {
    std::string path;
    std::string running; // the text of the running map
    std::string said;    // the text whose mistakes were said
    bool said_gone = false;
    std::vector<std::string> mistakes;
    platform::FileState seen; // at the last look
    platform::FileState read; // when last read
  };
  bool same(const platform::FileState &a, const platform::FileState &b) const {
    return a.exists == b.exists && a.size == b.size && a.modified_ns == b.modified_ns &&
           a.identity == b.identity;
  }

  std::vector<Watched> files;
  Tell tell;
  std::int64_t last_look_us = 0;
};
