// Which requests the tap's web server answers. Any web page in the same
// browser can open a connection to a loopback server, and DNS rebinding lets
// it do so under a host name of its own: so the Host must be "localhost" or
// an address, and a WebSocket's Origin must be the tap's own page or one the
// user named.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class WebAnswer {
  forbidden,          // 403: a foreign Host or, for the relay, Origin
  method_not_allowed, // 405
  relay,              // the WebSocket relay
  upgrade_required,   // 426: the relay's path without a WebSocket upgrade
  file,               // one of the page's files, or 404
};

struct WebRequest {
  std::string_view method;
  std::string_view target;
  std::string_view host;
  std::string_view origin;
  bool has_origin = false;
  bool upgrade = false; // asks for a WebSocket
};

class WebRules {
public:
  // `origins` as normal_origin gives them; `upgrade_anywhere`: a WebSocket
  // on any path (OSCQuery's), not only the relay's "/osc".
  WebRules(int port, std::vector<std::string> origins, bool upgrade_anywhere = false);

  WebAnswer judge(const WebRequest &request) const;

private:
  bool host_allowed(std::string_view host) const;
  bool origin_allowed(std::string_view origin, std::string_view host) const;

  int port;
  std::vector<std::string> origins;
  bool upgrade_anywhere;
};

// The target's path, its query left out.
std::string_view request_path(std::string_view target);

// "scheme://host[:port]" in lower case, a trailing slash dropped; false for
// anything else (a path, "null", a missing scheme).
bool normal_origin(std::string_view text, std::string &out);
