// The one seam between ring2osc and the operating system: the Winsock 2.2
// calls the transport and the tap make, and Sleep. On Windows they are the real ones; on
// other systems platform_posix.cpp provides the same calls over BSD sockets,
// including Winsock's start-up count. Everything above this header reads the
// same on both platforms.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

// The Winsock names that BSD sockets lack, with Winsock's values.
struct WSADATA {
  std::uint16_t wVersion;
  std::uint16_t wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
};
#define SOCKET_ERROR (-1)
#define INVALID_SOCKET (-1)
#define WSAEINTR 10004
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAEADDRINUSE 10048
#define WSAEMSGSIZE 10040
#define WSAECONNRESET 10054
#define WSAECONNREFUSED 10061
#define WSAEWOULDBLOCK 10035
#define WSAETIMEDOUT 10060
#endif

namespace platform {

// A socket handle as the transport keeps it: -1 when none is open. Windows
// handles fit in 32 bits, which Windows guarantees for interoperability.
using SocketHandle = int;

int WSAStartup(std::uint16_t version, WSADATA *data);
int WSACleanup();
int WSAGetLastError();

int getaddrinfo(const char *host, const char *service, const addrinfo *hints, addrinfo **result);
void freeaddrinfo(addrinfo *result);
SocketHandle socket(int family, int type, int protocol);
int bind(SocketHandle handle, const sockaddr *address, int length);
int connect(SocketHandle handle, const sockaddr *address, int length);
int getsockname(SocketHandle handle, sockaddr *address, int *length);
int send(SocketHandle handle, const void *payload, int size, int flags);
int sendto(SocketHandle handle, const void *payload, int size, int flags, const sockaddr *address,
           int length);
int closesocket(SocketHandle handle);
int recvfrom(SocketHandle handle, void *buffer, int size, int flags, sockaddr *from,
             int *from_length);
// Socket options whose value types differ between Winsock and BSD sockets:
// a receive gives up after `milliseconds` without a datagram, and the
// kernel's receive buffer is asked for `bytes` (it may grant less).
int set_receive_timeout(SocketHandle handle, std::uint32_t milliseconds);
int set_receive_buffer(SocketHandle handle, int bytes);
// Asks the system to count the datagrams it drops for the socket because its
// buffer is full (Linux); -1 where it cannot tell (Windows).
int count_dropped_datagrams(SocketHandle handle);
// recvfrom(handle, buffer, size, 0, nullptr, nullptr) that also updates
// `dropped` with the system's count of dropped datagrams when one comes.
int receive_counting_drops(SocketHandle handle, void *buffer, int size, std::uint32_t &dropped);
// From now on calls on the socket return at once instead of waiting;
// WSAEWOULDBLOCK says there was nothing to do.
int set_non_blocking(SocketHandle handle);
// Lets the socket send to a broadcast address (asked before it connects).
int set_broadcast(SocketHandle handle);
// Multicast sent with `ttl` hops (1: this network only) and delivered to
// this machine's own members of the group too.
int set_multicast(SocketHandle handle, int ttl);

void Sleep(std::uint32_t milliseconds);

// How many start-ups made through this layer are not yet cleaned up; on
// Windows the real count may be higher if others call Winsock directly.
int startup_count();

} // namespace platform
