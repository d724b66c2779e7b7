// What an OSCQuery client says on its WebSocket: a text message holding one
// JSON object, {"COMMAND":"LISTEN","DATA":"/a/x"} to be sent that
// address's messages, or "IGNORE" to stop. Anything else is not a command.
#pragma once

#include <string>
#include <string_view>

struct ListenCommand {
  bool listen = false; // IGNORE otherwise
  std::string path;
};

// False for anything but such an object (other members are let be).
bool read_listen_command(std::string_view json, ListenCommand &out);
