#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

// When each event was handed over, for measuring the bridge's latency from
// outside. Written to a temporary name and renamed, so a reader never sees
// half a file.
class Stamps {
public:
  explicit Stamps(std::string path) : path(std::move(path)) {}

  void record() {
    if (!path.empty()) {
      times.push_back(std::chrono::steady_clock::now().time_since_epoch().count());
    }
  }

  // Says on standard error when the file cannot be written.
  void write() const;

private:
  std::string path;
  std::vector<long long> times;
};
