#include "tap/oscquery_namespace.h"

#include "ring/bridge_addresses.h"
#include "ring/ring_vocabulary.h"
#include "ring/script_format.h"
#include "tap/json_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The attributes OSCQuery defines; of them the tap's nodes have these.
constexpr const char *known_attributes[] = {
    "FULL_PATH", "CONTENTS",      "TYPE", "ACCESS",   "VALUE",    "DESCRIPTION", "RANGE",
    "TAGS",      "EXTENDED_TYPE", "UNIT", "CRITICAL", "CLIPMODE", "OVERLOADS",   "HOST_INFO"};

bool known(const std::string &attribute) {
  for (const char *a : known_attributes) {
    if (attribute == a) {
      return true;
    }
  }
  return false;
}

// "/a/x" lies in the container "/a"; "/gest" in the root.
std::string container_of(const char *address) {
  const char *slash = std::strrchr(address, '/');
  return slash == address ? "/" : std::string(address, slash);
}

std::string description_of(const BridgeAddress &a) {
  const std::string kind = std::to_string(a.kind);
  if (a.kind == event_kind::button) {
    const std::string n = a.address + 3;
    return "button " + n + ": b_value of an event of kind 0 whose b_number is " + n;
  }
  return std::string(event_kind::name(a.kind)) + ": the field " + a.field +
         " of an event of kind " + kind;
}

// A leaf's attribute, as JSON, or empty when it has none.
std::string leaf_attribute(const TapStats &stats, int index, const std::string &attribute) {
  const BridgeAddress &a = bridge_addresses[index];
  if (attribute == "FULL_PATH") {
    return json_string(a.address);
  }
  if (attribute == "TYPE") {
    return json_string(std::string(1, a.type));
  }
  if (attribute == "ACCESS") {
    return "1";
  }
  if (attribute == "DESCRIPTION") {
    return json_string(description_of(a));
  }
  if (attribute == "VALUE") {
    const AddressStats &seen = stats.addresses[index];
    const double value = argument_value(a.type, seen.latest);
    return seen.messages == 0 || !std::isfinite(value)
               ? ""
               : "[" + argument_text(a.type, seen.latest) + "]";
  }
  return "";
}

std::string container_attribute(const TapStats &stats, const std::string &path,
                                const std::string &attribute);

// A node whole: every attribute it has.
std::string node(const TapStats &stats, const std::string &path) {
  std::string json = "{";
  for (const char *attribute :
       {"FULL_PATH", "TYPE", "ACCESS", "VALUE", "DESCRIPTION", "CONTENTS"}) {
    const int leaf = find_bridge_address(path.c_str());
    const std::string value = leaf >= 0 ? leaf_attribute(stats, leaf, attribute)
                                        : container_attribute(stats, path, attribute);
    if (!value.empty()) {
      json += (json.size() > 1 ? "," : "") + json_string(attribute) + ":" + value;
    }
  }
  return json + "}";
}

std::string container_attribute(const TapStats &stats, const std::string &path,
                                const std::string &attribute) {
  if (attribute == "FULL_PATH") {
    return json_string(path);
  }
  if (attribute == "ACCESS") {
    return "0";
  }
  std::string contents;
  std::vector<std::string> named;
  std::int32_t kind = event_kind::empty;
  for (const BridgeAddress &a : bridge_addresses) {
    const std::string inside = container_of(a.address);
    std::string child;
    if (inside == path) {
      child = a.address;
      kind = a.kind;
    } else if (path == "/") {
      child = inside; // a container in the root, once
    } else {
      continue;
    }
    const std::string name = child.substr(child.rfind('/') + 1);
    if (std::find(named.begin(), named.end(), name) == named.end()) {
      named.push_back(name);
      contents += (contents.empty() ? "" : ",") + json_string(name) + ":" + node(stats, child);
    }
  }
  if (attribute == "DESCRIPTION") {
    return json_string(path == "/" ? "ring2osc: every message the bridge sends"
                                   : std::string(event_kind::name(kind)) + ", events of kind " +
                                         std::to_string(kind));
  }
  return attribute == "CONTENTS" ? "{" + contents + "}" : "";
}

bool is_node(const std::string &path) {
  if (path == "/" || find_bridge_address(path.c_str()) >= 0) {
    return true;
  }
  for (const BridgeAddress &a : bridge_addresses) {
    if (container_of(a.address) == path) {
      return true;
    }
  }
  return false;
}

std::string host_info(const OscQueryHost &host) {
  std::string json = "{\"NAME\":" + json_string(host.name) +
                     ",\"EXTENSIONS\":{\"ACCESS\":true,\"VALUE\":true,\"DESCRIPTION\":true,"
                     "\"LISTEN\":true}";
  if (!host.osc_ip.empty()) {
    json += ",\"OSC_IP\":" + json_string(host.osc_ip);
  }
  json += R"(,"OSC_PORT":)" + std::to_string(host.osc_port) + R"(,"OSC_TRANSPORT":"UDP")";
  if (!host.ws_ip.empty()) {
    json += ",\"WS_IP\":" + json_string(host.ws_ip);
  }
  return json + ",\"WS_PORT\":" + std::to_string(host.ws_port) + "}";
}

} // namespace

WebReply oscquery_answer(const TapStats &stats, const OscQueryHost &host, const std::string &path,
                         const std::string &query) {
  const std::string at =
      path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
  if (query == "HOST_INFO") {
    return {200, host_info(host)};
  }
  if (!is_node(at)) {
    return {404, ""};
  }
  if (query.empty()) {
    return {200, node(stats, at)};
  }
  if (!known(query)) {
    return {400, ""};
  }
  const int leaf = find_bridge_address(at.c_str());
  const std::string value =
      leaf >= 0 ? leaf_attribute(stats, leaf, query) : container_attribute(stats, at, query);
  return value.empty() ? WebReply{204, ""}
                       : WebReply{200, "{" + json_string(query) + ":" + value + "}"};
}

std::vector<std::string> oscquery_streams() {
  std::vector<std::string> streams;
  for (const BridgeAddress &a : bridge_addresses) {
    streams.emplace_back(a.address);
  }
  return streams;
}
