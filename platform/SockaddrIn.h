// The one conversion between TSocketAddress and the system's IPv4 socket
// address, for the socket implementations of both platforms.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "platform/Socket.h"

inline sockaddr_in ToSockaddr(const TSocketAddress& address) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(address.Port);
  result.sin_addr.s_addr = address.Address;
  return result;
}

inline TSocketAddress FromSockaddr(const sockaddr_in& address) {
  return TSocketAddress{address.sin_addr.s_addr, ntohs(address.sin_port)};
}
