#pragma once

// The socket types of the platform: Winsock 2 on Windows, BSD sockets elsewhere. This is
// the one header that chooses by platform; everything else goes through net/socket.h.

#include <cstdint>

#ifdef _WIN32
#include "support/windows_api.h"
#include <winsock2.h>
#include <ws2tcpip.h>

namespace orrin {
using SocketHandle = SOCKET;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = INVALID_SOCKET;
using in_addr_t = uint32_t;
// Codes our log lines show where no call failed: a receive deadline that ran out before
// the call, a datagram or reply that went out short.
inline constexpr int SOCKET_TIMEOUT_ERROR = WSAETIMEDOUT;
inline constexpr int SOCKET_MESSAGE_SIZE_ERROR = WSAEMSGSIZE;
}  // namespace orrin
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace orrin {
using SocketHandle = int;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;
inline constexpr int SOCKET_TIMEOUT_ERROR = EAGAIN;
inline constexpr int SOCKET_MESSAGE_SIZE_ERROR = EMSGSIZE;
}  // namespace orrin
#endif
