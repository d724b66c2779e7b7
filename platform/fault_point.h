// Where test builds can make the platform layer fail on purpose: start-up,
// resolution, socket, connect, send, receive and a socket option, which a healthy machine never
// fails.
// In the shipped programs the answer is the constant false, so no switch is
// built in.
#pragma once

namespace platform {

enum class FaultPoint {
  startup,
  resolve,
  socket,
  connect,
  send_interrupt,
  send,
  receive,
  socket_option,
  count
};

#ifdef RING2OSC_FAULT_INJECTION
bool fault_armed(FaultPoint point); // defined by the tests' fault library
#else
constexpr bool fault_armed(FaultPoint /*point*/) { return false; }
#endif

} // namespace platform
