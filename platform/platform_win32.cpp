// The real Winsock 2.2 and Sleep, with the handle kept as an int; test builds
// put the fault switches in front.
#ifdef _WIN32

#include "platform/fault_point.h"
#include "platform/platform.h"

#include <atomic>
#include <mutex>
#include <windows.h>

namespace platform {
namespace {

std::atomic<int> startups{0};
// The last WSACleanup releases every socket of the process. Under Wine a
// WSAStartup on another SDK thread can slip into that release and lose the
// socket it opens next; taking turns keeps the two whole.
std::mutex startup_turns;

int fail(int winsock_code) {
  ::WSASetLastError(winsock_code);
  return SOCKET_ERROR;
}

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

int injected_send_failure() {
  if (fault_armed(FaultPoint::send_interrupt)) {
    return fail(WSAEINTR);
  }
  return fault_armed(FaultPoint::send) ? fail(WSAENETUNREACH) : 0;
}

} // namespace

int WSAStartup(std::uint16_t version, WSADATA *data) {
  if (fault_armed(FaultPoint::startup)) {
    return WSASYSNOTREADY;
  }
  const std::lock_guard<std::mutex> turn(startup_turns);
  const int status = ::WSAStartup(version, data);
  if (status == 0) {
    startups.fetch_add(1);
  }
  return status;
}

int WSACleanup() {
  const std::lock_guard<std::mutex> turn(startup_turns);
  const int status = ::WSACleanup();
  if (status == 0) {
    startups.fetch_sub(1);
  }
  return status;
}

int WSAGetLastError() { return ::WSAGetLastError(); }

int getaddrinfo(const char *host, const char *service, const addrinfo *hints, addrinfo **result) {
  if (fault_armed(FaultPoint::resolve)) {
    fail(WSAHOST_NOT_FOUND);
    return WSAHOST_NOT_FOUND;
  }
  return ::getaddrinfo(host, service, hints, result);
}

void freeaddrinfo(addrinfo *result) {
  if (result != nullptr) {
    ::freeaddrinfo(result);
  }
}

SocketHandle socket(int family, int type, int protocol) {
  if (fault_armed(FaultPoint::socket)) {
    return fail(WSAEMFILE);
  }
  const SOCKET handle = ::socket(family, type, protocol);
  return handle == INVALID_SOCKET ? -1 : static_cast<SocketHandle>(handle);
}

int bind(SocketHandle handle, const sockaddr *address, int length) {
  return ::bind(native(handle), address, length);
}

int connect(SocketHandle handle, const sockaddr *address, int length) {
  if (fault_armed(FaultPoint::connect)) {
    return fail(WSAECONNREFUSED);
  }
  return ::connect(native(handle), address, length);
}

int getsockname(SocketHandle handle, sockaddr *address, int *length) {
  return ::getsockname(native(handle), address, length);
}

int send(SocketHandle handle, const void *payload, int size, int flags) {
  if (injected_send_failure() != 0) {
    return SOCKET_ERROR;
  }
  return ::send(native(handle), static_cast<const char *>(payload), size, flags);
}

int sendto(SocketHandle handle, const void *payload, int size, int flags, const sockaddr *address,
           int length) {
  if (injected_send_failure() != 0) {
    return SOCKET_ERROR;
  }
  return ::sendto(native(handle), static_cast<const char *>(payload), size, flags, address, length);
}

int closesocket(SocketHandle handle) { return ::closesocket(native(handle)); }

int recvfrom(SocketHandle handle, void *buffer, int size, int flags, sockaddr *from,
             int *from_length) {
  if (fault_armed(FaultPoint::receive)) {
    return fail(WSAENETDOWN);
  }
  return ::recvfrom(native(handle), static_cast<char *>(buffer), size, flags, from, from_length);
}

int set_receive_timeout(SocketHandle handle, std::uint32_t milliseconds) {
  const DWORD timeout = milliseconds;
  return ::setsockopt(native(handle), SOL_SOCKET, SO_RCVTIMEO,
                      reinterpret_cast<const char *>(&timeout), sizeof timeout);
}

int set_receive_buffer(SocketHandle handle, int bytes) {
  return ::setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes),
                      sizeof bytes);
}

// Winsock keeps no such count.
int count_dropped_datagrams(SocketHandle) { return -1; }

int receive_counting_drops(SocketHandle handle, void *buffer, int size, std::uint32_t &) {
  return recvfrom(handle, buffer, size, 0, nullptr, nullptr);
}

int set_non_blocking(SocketHandle handle) {
  u_long on = 1;
  return ::ioctlsocket(native(handle), FIONBIO, &on);
}

int set_broadcast(SocketHandle handle) {
  const BOOL on = TRUE;
  return ::setsockopt(native(handle), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on),
                      sizeof on);
}

// Winsock takes these two as DWORDs.
int set_multicast(SocketHandle handle, int ttl) {
  const DWORD hops = static_cast<DWORD>(ttl);
  const DWORD loop = 1;
  return ::setsockopt(native(handle), IPPROTO_IP, IP_MULTICAST_TTL,
                      reinterpret_cast<const char *>(&hops), sizeof hops) == 0 &&
                 ::setsockopt(native(handle), IPPROTO_IP, IP_MULTICAST_LOOP,
                              reinterpret_cast<const char *>(&loop), sizeof loop) == 0
             ? 0
             : SOCKET_ERROR;
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

int startup_count() { return startups.load(); }

} // namespace platform

#endif
