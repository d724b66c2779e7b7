// Winsock 2.2 as the transport sees it, over BSD sockets. Faithful where the
// bridge depends on it: a process-wide start-up count, every socket call
// failing with WSANOTINITIALISED while the count is 0, Winsock's error codes
// from WSAGetLastError, and getaddrinfo answering with those codes.
#ifndef _WIN32

#include "platform/fault_point.h"
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::uint16_t highest_version = 0x0202;
constexpr int wsa_not_enough_memory = 8;
constexpr int wsa_host_not_found = 11001;
constexpr int wsa_try_again = 11002;
constexpr int wsa_no_recovery = 11003;
constexpr int wsa_connection_refused = WSAECONNREFUSED;
constexpr int wsa_network_unreachable = 10051;
constexpr int wsa_too_many_sockets = 10024;

std::atomic<int> startups{0};
thread_local int last_error = 0;

struct ErrnoCode {
  int posix;
  int winsock;
};

constexpr ErrnoCode errno_codes[] = {
    {EINTR, WSAEINTR},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, wsa_too_many_sockets},
    {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, 10041},
    {EPROTONOSUPPORT, 10043},
    {EOPNOTSUPP, 10045},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, wsa_network_unreachable},
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, wsa_connection_refused},
    {EHOSTUNREACH, 10065},
};

int winsock_code_for_errno(int posix) {
  for (const ErrnoCode &code : errno_codes) {
    if (code.posix == posix) {
      return code.winsock;
    }
  }
  return WSAEINVAL;
}

int winsock_code_for_resolver(int resolver_error) {
  switch (resolver_error) {
  case EAI_NONAME:
    return wsa_host_not_found;
  case EAI_AGAIN:
    return wsa_try_again;
  case EAI_FAMILY:
    return 10047;
  case EAI_SOCKTYPE:
    return 10044;
  case EAI_SERVICE:
    return 10109;
  case EAI_MEMORY:
    return wsa_not_enough_memory;
  case EAI_BADFLAGS:
    return WSAEINVAL;
  case EAI_SYSTEM:
    return winsock_code_for_errno(errno);
  default:
    return wsa_no_recovery;
  }
}

// The result of a failed call: Winsock's SOCKET_ERROR with its error code.
int fail(int winsock_code) {
  last_error = winsock_code;
  return SOCKET_ERROR;
}

int fail_with_errno() { return fail(winsock_code_for_errno(errno)); }

bool started() { return startups.load() > 0; }

} // namespace

int WSAStartup(std::uint16_t version, WSADATA *data) {
  if (fault_armed(FaultPoint::startup)) {
    return WSASYSNOTREADY;
  }
  if (data == nullptr) {
    return WSAEFAULT;
  }
  std::memset(data, 0, sizeof *data);
  data->wHighVersion = highest_version;
  std::strcpy(data->szDescription, "ring2osc POSIX sockets");
  std::strcpy(data->szSystemStatus, "Running");
  const unsigned major = version & 0xFFU;
  const unsigned minor = version >> 8U;
  if (major < 1) {
    return WSAVERNOTSUPPORTED;
  }
  // Winsock settles on the lower of the requested and the highest version.
  const bool above_highest = major > 2 || (major == 2 && minor > 2);
  data->wVersion = above_highest ? highest_version : version;
  startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int count = startups.load();
  while (count > 0) {
    if (startups.compare_exchange_weak(count, count - 1)) {
      return 0;
    }
  }
  return fail(WSANOTINITIALISED);
}

int WSAGetLastError() { return last_error; }

int getaddrinfo(const char *host, const char *service, const addrinfo *hints, addrinfo **result) {
  if (!started()) {
    fail(WSANOTINITIALISED);
    return WSANOTINITIALISED;
  }
  if (fault_armed(FaultPoint::resolve)) {
    fail(wsa_host_not_found);
    return wsa_host_not_found;
  }
  const int status = ::getaddrinfo(host, service, hints, result);
  if (status != 0) {
    const int code = winsock_code_for_resolver(status);
    fail(code);
    return code;
  }
  return 0;
}

void freeaddrinfo(addrinfo *result) {
  if (result != nullptr) {
    ::freeaddrinfo(result);
  }
}

SocketHandle socket(int family, int type, int protocol) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (fault_armed(FaultPoint::socket)) {
    return fail(wsa_too_many_sockets);
  }
  // Sockets are not handed down to programs the host process starts.
  const int handle = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return handle < 0 ? fail_with_errno() : handle;
}

int bind(SocketHandle handle, const sockaddr *address, int length) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  return ::bind(handle, address, static_cast<socklen_t>(length)) == 0 ? 0 : fail_with_errno();
}

int connect(SocketHandle handle, const sockaddr *address, int length) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (fault_armed(FaultPoint::connect)) {
    return fail(wsa_connection_refused);
  }
  return ::connect(handle, address, static_cast<socklen_t>(length)) == 0 ? 0 : fail_with_errno();
}

int getsockname(SocketHandle handle, sockaddr *address, int *length) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (length == nullptr || *length < 0) {
    return fail(WSAEFAULT);
  }
  auto size = static_cast<socklen_t>(*length);
  if (::getsockname(handle, address, &size) != 0) {
    return fail_with_errno();
  }
  *length = static_cast<int>(size);
  return 0;
}

namespace {

// What Winsock checks before a send reaches the network; 0 lets it go on.
int refuse_send(int size) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (fault_armed(FaultPoint::send_interrupt)) {
    return fail(WSAEINTR);
  }
  if (fault_armed(FaultPoint::send)) {
    return fail(wsa_network_unreachable);
  }
  return size < 0 ? fail(WSAEINVAL) : 0;
}

int byte_count(ssize_t sent) { return sent < 0 ? fail_with_errno() : static_cast<int>(sent); }

} // namespace

int send(SocketHandle handle, const void *payload, int size, int flags) {
  if (refuse_send(size) != 0) {
    return SOCKET_ERROR;
  }
  return byte_count(::send(handle, payload, static_cast<std::size_t>(size), flags | MSG_NOSIGNAL));
}

int sendto(SocketHandle handle, const void *payload, int size, int flags, const sockaddr *address,
           int length) {
  if (refuse_send(size) != 0) {
    return SOCKET_ERROR;
  }
  return byte_count(::sendto(handle, payload, static_cast<std::size_t>(size), flags | MSG_NOSIGNAL,
                             address, static_cast<socklen_t>(length)));
}

int closesocket(SocketHandle handle) {
  // Winsock has already released every socket once its count reached 0, so
  // the descriptor is closed either way; only the answer tells them apart.
  const int status = ::close(handle);
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  return status == 0 ? 0 : fail_with_errno();
}

int recvfrom(SocketHandle handle, void *buffer, int size, int flags, sockaddr *from,
             int *from_length) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (fault_armed(FaultPoint::receive)) {
    return fail(10050); // the network is down
  }
  auto length = static_cast<socklen_t>(from_length != nullptr ? *from_length : 0);
  const ssize_t received = ::recvfrom(handle, buffer, static_cast<std::size_t>(size), flags, from,
                                      from_length != nullptr ? &length : nullptr);
  if (received >= 0 && from_length != nullptr) {
    *from_length = static_cast<int>(length);
  }
  return byte_count(received);
}

int set_receive_timeout(SocketHandle handle, std::uint32_t milliseconds) {
  if (fault_armed(FaultPoint::socket_option)) {
    return fail(WSAEINVAL);
  }
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
  return ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0
             ? 0
             : fail_with_errno();
}

int set_receive_buffer(SocketHandle handle, int bytes) {
  return ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0
                                                                                : fail_with_errno();
}

int count_dropped_datagrams(SocketHandle handle) {
  const int on = 1;
  return ::setsockopt(handle, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0 ? 0 : fail_with_errno();
}

int receive_counting_drops(SocketHandle handle, void *buffer, int size, std::uint32_t &dropped) {
  if (!started()) {
    return fail(WSANOTINITIALISED);
  }
  if (fault_armed(FaultPoint::receive)) {
    return fail(10050); // the network is down
  }
  iovec part{buffer, static_cast<std::size_t>(size)};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(std::uint32_t))];
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t received = ::recvmsg(handle, &message, 0);
  if (received >= 0) {
    // Present once the system has dropped any: its count so far.
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
        std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
      }
    }
  }
  return byte_count(received);
}

int set_non_blocking(SocketHandle handle) {
  if (fault_armed(FaultPoint::socket_option)) {
    return fail(WSAEINVAL);
  }
  const int flags = ::fcntl(handle, F_GETFL);
  return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : fail_with_errno();
}

int set_broadcast(SocketHandle handle) {
  const int on = 1;
  return ::setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? 0
                                                                             : fail_with_errno();
}

int set_multicast(SocketHandle handle, int ttl) {
  const auto hops = static_cast<unsigned char>(ttl);
  const unsigned char loop = 1;
  return ::setsockopt(handle, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) == 0 &&
                 ::setsockopt(handle, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0
             ? 0
             : fail_with_errno();
}

void Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int startup_count() { return startups.load(); }

} // namespace platform

#endif
