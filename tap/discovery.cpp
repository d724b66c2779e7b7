#include "tap/discovery.h"

#include "platform/console.h"
#include "web/http_get.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr const char *osc_type = "_osc._udp";
constexpr const char *oscquery_type = "_oscjson._tcp";

// A member of ?HOST_INFO's object: the number or string after "KEY":.
std::string member(const std::string &json, const std::string &key) {
  std::size_t at = json.find("\"" + key + "\"");
  if (at == std::string::npos) {
    return "";
  }
  at = json.find_first_not_of(" \t\r\n:", at + key.size() + 2);
  if (at == std::string::npos) {
    return "";
  }
  if (json[at] == '"') {
    const std::size_t end = json.find('"', at + 1);
    return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
  }
  const std::size_t end = json.find_first_not_of("0123456789", at);
  return json.substr(at, end - at);
}

} // namespace

Discovery::~Discovery() = default;

bool Discovery::matches(const std::string &pattern, const std::string &name) {
  // Greedy with one point to come back to: enough for '*' alone.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string::npos;
  std::size_t from = 0;
  const auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      from = n;
    } else if (p < pattern.size() && same(pattern[p], name[n])) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++from;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

bool Discovery::started() {
  if (dns_sd || unavailable) {
    return !unavailable;
  }
  auto system = std::make_unique<platform::DnsSd>();
  std::string error;
  if (!system->start(error)) {
    unavailable = true;
    tell(error + "; the tap goes on without discovery");
    return false;
  }
  dns_sd = std::move(system);
  return true;
}

void Discovery::advertise_oscquery(const std::string &name, const std::string &host, int port) {
  std::string error;
  if (started() && !dns_sd->advertise(name, oscquery_type, port, host, error)) {
    tell(error);
  }
}

void Discovery::look_for(const std::string &pattern) {
  if (std::find(patterns.begin(), patterns.end(), pattern) != patterns.end()) {
    return;
  }
  patterns.push_back(pattern);
  // A map read again may look for instances already seen.
  for (const auto &[name, at] : oscjson) {
    if (matches(pattern, name) && host_info.count(name) == 0) {
      ask_host_info(name, at.host, at.port);
    }
  }
  std::string error;
  if (browsing || !started()) {
    return;
  }
  browsing = true;
  for (const char *type : {osc_type, oscquery_type}) {
    if (!dns_sd->browse(type, error)) {
      tell(error);
    }
  }
}

void Discovery::ask_host_info(const std::string &name, const std::string &address, int port) {
  std::shared_ptr<Asked> into = asked;
  {
    const std::lock_guard<std::mutex> lock(into->mutex);
    ++into->pending;
  }
  platform::start_thread([into, name, address, port] {
    std::string body;
    std::string error;
    Endpoint at{"", 0};
    if (http_get(address, port, "/?HOST_INFO", body, error)) {
      const std::string osc_port = member(body, "OSC_PORT");
      const std::string osc_ip = member(body, "OSC_IP");
      at = {osc_ip.empty() ? address : osc_ip,
            osc_port.empty() ? 0 : std::stoi(osc_port.substr(0, 5))};
    }
    const std::lock_guard<std::mutex> lock(into->mutex);
    into->answers[name] = at;
    --into->pending;
  }).detach();
}

bool Discovery::follow() {
  if (!dns_sd) {
    return false;
  }
  using Kind = platform::DnsSd::Event::Kind;
  for (const platform::DnsSd::Event &e : dns_sd->events()) {
    if (e.kind == Kind::advertised) {
      tell("advertised as \"" + e.name + "\" (" + e.type + ", port " + std::to_string(e.port) +
           ")");
    } else if (e.kind == Kind::failed) {
      tell("cannot advertise " + e.type + " \"" + e.name + "\": " + e.why);
    } else if (e.type == osc_type) {
      if (e.kind == Kind::found) {
        osc[e.name] = {{e.address, e.port}, true};
      } else {
        osc.erase(e.name);
      }
    } else if (e.kind == Kind::found) {
      oscjson[e.name] = {e.address, e.port};
      for (const std::string &pattern : patterns) {
        if (matches(pattern, e.name)) {
          ask_host_info(e.name, e.address, e.port);
          break;
        }
      }
    } else {
      oscjson.erase(e.name);
      host_info.erase(e.name);
    }
  }
  {
    const std::lock_guard<std::mutex> lock(asked->mutex);
    for (const auto &[name, at] : asked->answers) {
      if (at.port > 0 && oscjson.count(name) != 0) {
        host_info[name] = at;
      }
    }
    asked->answers.clear();
  }
  bool changed = false;
  for (const std::string &pattern : patterns) {
    std::pair<std::string, Endpoint> now{"", {"", 0}};
    for (const auto &[name, instance] : osc) {
      if (matches(pattern, name)) {
        now = {name, instance.at};
        break;
      }
    }
    for (const auto &[name, at] : host_info) {
      if (now.first.empty() && matches(pattern, name)) {
        now = {name, at};
      }
    }
    const auto before = current.find(pattern);
    const bool same = before != current.end() && before->second.first == now.first &&
                      before->second.second.host == now.second.host &&
                      before->second.second.port == now.second.port;
    if (!same && (before != current.end() || !now.first.empty())) {
      current[pattern] = now;
      changed = true;
    }
  }
  return changed;
}

Discovery::Found Discovery::found(const std::string &pattern) const {
  const auto at = current.find(pattern);
  if (at == current.end() || at->second.first.empty()) {
    return {};
  }
  return {true, at->second.first, at->second.second};
}
