// The system's DNS-SD, never an mDNS stack of our own: Avahi's daemon
// through its client library on Linux; on Windows the DNS-SD calls of
// Windows 10 1903 and later, looked up at run time so that older Windows
// run without them; none in a build without it. It advertises services and
// follows those of a type; what happens arrives as events, in the order the
// system told them, from its own thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

class DnsSd {
public:
  DnsSd();
  // Every advertisement ends.
  ~DnsSd();
  DnsSd(const DnsSd &) = delete;
  DnsSd &operator=(const DnsSd &) = delete;

  // Reaches the system's DNS-SD; false when there is none, with why.
  bool start(std::string &error);

  // Advertises the instance `name` of `type` ("_oscjson._tcp") on `port`,
  // on the interfaces `host` listens on: its address's own interface, or
  // every one for 0.0.0.0. The name may change if another holds it (an
  // event says so).
  bool advertise(const std::string &name, const std::string &type, int port,
                 const std::string &host, std::string &error);
  // Follows the instances of `type`: each found (its address and port) and
  // gone, once however many interfaces it is seen on.
  bool browse(const std::string &type, std::string &error);

  struct Event {
    enum class Kind { found, gone, advertised, failed } kind;
    std::string type;
    std::string name;
    std::string address; // IPv4, found only
    int port = 0;
    std::string why; // failed only
  };
  // What happened since the last call.
  std::vector<Event> events();

  struct System;

private:
  std::unique_ptr<System> system_;
};

} // namespace platform
