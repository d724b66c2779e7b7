// The tap found without typing a port, and finding others, through the
// system's DNS-SD (platform/dns_sd.h): its OSCQuery server advertised as
// _oscjson._tcp, and for a map's "to service PATTERN" the instances whose
// names match: an _osc._udp one, else an _oscjson._tcp one whose ?HOST_INFO
// names an OSC port. Without DNS-SD it says so once and the tap goes on.
#pragma once

#include "platform/dns_sd.h"
#include "udp/endpoint.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Discovery {
public:
  using Tell = std::function<void(const std::string &)>;
  explicit Discovery(Tell tell) : tell(std::move(tell)) {}
  ~Discovery();
  Discovery(const Discovery &) = delete;
  Discovery &operator=(const Discovery &) = delete;

  // The tap's OSCQuery server, listening on HOST:PORT, as `name`.
  void advertise_oscquery(const std::string &name, const std::string &host, int port);
  // From now on, instances whose names match `pattern` ('*' any text, in
  // any case) are looked for.
  void look_for(const std::string &pattern);

  // Takes what the system told since the last call; true when what a
  // pattern stands for changed.
  bool follow();

  struct Found {
    bool found = false;
    std::string name; // the instance's
    Endpoint at{"", 0};
  };
  Found found(const std::string &pattern) const;

  // Whether `name` matches `pattern`, '*' standing for any text, case aside.
  static bool matches(const std::string &pattern, const std::string &name);

private:
  struct Instance {
    Endpoint at{"", 0};
    bool osc = false; // an _osc._udp instance, or an OSC port from ?HOST_INFO
  };
  bool started();
  void ask_host_info(const std::string &name, const std::string &address, int port);

  Tell tell;
  std::unique_ptr<platform::DnsSd> dns_sd;
  bool unavailable = false;
  bool browsing = false;
  std::vector<std::string> patterns;
  std::map<std::string, Instance> osc;                             // _osc._udp, by name
  std::map<std::string, Endpoint> oscjson;                         // _oscjson._tcp, by name
  std::map<std::string, std::pair<std::string, Endpoint>> current; // per pattern
  // Answers of ?HOST_INFO, from threads of their own.
  struct Asked {
    std::mutex mutex;
    std::map<std::string, Endpoint> answers; // by name: the OSC port it gave
    int pending = 0;
  };
  std::shared_ptr<Asked> asked = std::make_shared<Asked>();
  std::map<std::string, Endpoint> host_info; // answers taken, by name
};
