// Winsock's start-up held for as long as this object lives: every socket
// call needs one. Only a start-up that succeeded is matched by a clean-up, so
// a failed one cannot lower the count that an object on another thread holds.
#pragma once

#include "platform/platform.h"

class WinsockSession {
public:
  WinsockSession() {
    WSADATA wsa_data;
    started_ = platform::WSAStartup(0x0202, &wsa_data) == 0;
  }
  ~WinsockSession() {
    if (started_) {
      platform::WSACleanup();
    }
  }
  WinsockSession(const WinsockSession &) = delete;
  WinsockSession &operator=(const WinsockSession &) = delete;

  bool started() const { return started_; }

private:
  bool started_ = false;
};
