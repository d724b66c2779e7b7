// Test-only switches that make the platform layer fail on purpose, so that
// tests can drive the transport and the handler through failures a healthy
// machine never shows. Nothing in the bridge arms them.
#pragma once

namespace platform::faults {

enum class Fault {
  startup,        // WSAStartup answers WSASYSNOTREADY
  resolve,        // getaddrinfo finds no such host
  connect,        // connect is refused
  send_interrupt, // send and sendto are interrupted (WSAEINTR)
  send,           // send and sendto fail for good
};

// The next `count` calls of that kind fail; 0 disarms.
void arm(Fault fault, int count);
// How many armed failures of that kind are still to come.
int remaining(Fault fault);
void disarm_all();

// For the platform layer: true when this call is to fail.
bool take(Fault fault);
// For the platform layer's sends: the Winsock error code of an armed send
// failure (WSAEINTR or WSAENETUNREACH), or 0 when the send is to go ahead.
int take_send_failure();

} // namespace platform::faults
