// The bridge's addresses as an OSCQuery namespace, answered from what the
// tap has seen: a container for each group (/a, /b, /g, /j, /r) and for
// each address its TYPE as the bridge sends it, ACCESS 1 (read only), its
// latest VALUE exactly (left out until it is seen, and while it is a NaN or
// an infinity, which JSON cannot carry) and a DESCRIPTION. No RANGE: the
// bridge passes on whatever the ring reports. Also the host's information
// and every attribute alone ("?VALUE").
#pragma once

#include "tap/tap_stats.h"
#include "web/web_server.h"

#include <string>
#include <vector>

struct OscQueryHost {
  std::string name;   // NAME
  std::string osc_ip; // where the tap receives OSC; empty: the server's own address
  int osc_port = 0;
  std::string ws_ip; // the LISTEN stream, on the server's own port
  int ws_port = 0;
};

// The answer to GET `path`?`query`: 200 with the JSON, 404 for a path that
// is no node, 204 for an attribute the node does not have, 400 for one
// OSCQuery does not know.
WebReply oscquery_answer(const TapStats &stats, const OscQueryHost &host, const std::string &path,
                         const std::string &query);

// The addresses a client may LISTEN to, indexed as bridge_addresses.
std::vector<std::string> oscquery_streams();
