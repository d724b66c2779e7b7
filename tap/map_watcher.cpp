#include "tap/map_watcher.h"

MapWatcher::MapWatcher(std::vector<std::string> paths, std::vector<std::string> texts, Tell tell)
    : tell(std::move(tell)) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Watched w;
    w.path = std::move(paths[i]);
    w.running = std::move(texts[i]);
    w.seen = w.read = platform::file_state(w.path);
    files.push_back(std::move(w));
  }
}

std::vector<MapWatcher::Replacement> MapWatcher::look(std::int64_t now_us, std::int64_t wall_ns) {
  std::vector<Replacement> replacements;
  if (!due(now_us)) {
    return replacements;
  }
  last_look_us = now_us;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Watched &w = files[i];
    const platform::FileState now = platform::file_state(w.path);
    const bool still = same(now, w.seen);
    w.seen = now;
    if (!now.exists) {
      if (!w.said_gone) {
        w.said_gone = true;
        tell(w.path + ": is gone: the map read before goes on");
      }
      continue;
    }
    w.said_gone = false;
    const bool recent = wall_ns - now.modified_ns < recent_ns;
    if (!still || (same(now, w.read) && !recent)) {
      continue; // still being written, or nothing new
    }
    MapFile map;
    std::vector<std::string> found;
    std::string text;
    const bool good = read_map_file(w.path, map, found, &text);
    if (!same(platform::file_state(w.path), now)) {
      continue; // written again while it was read: at the next look
    }
    w.read = now;
    if (text == w.running || (!good && text == w.said)) {
      continue;
    }
    if (!good) {
      w.said = text;
      w.mistakes = found;
      for (const std::string &mistake : found) {
        tell(mistake);
      }
      tell(w.path + ": not read again: the map read before goes on");
      continue;
    }
    w.running = std::move(text);
    w.said.clear();
    w.mistakes.clear();
    tell(w.path + ": read again (" + std::to_string(map.rules.size()) +
         (map.rules.size() == 1 ? " rule)" : " rules)"));
    replacements.push_back({i, std::move(map)});
  }
  return replacements;
}

std::vector<std::string> MapWatcher::mistakes() const {
  std::vector<std::string> all;
  for (const Watched &w : files) {
    all.insert(all.end(), w.mistakes.begin(), w.mistakes.end());
  }
  return all;
}
