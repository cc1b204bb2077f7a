#pragma once

#include <string>

#include "net/socket_platform.h"

namespace orrin {

// The address to name in an answer to a sender whose packet reached us at `reached`: that
// address when it is a real one (a phone on Wi-Fi learns the Wi-Fi address, one on Ethernet
// the Ethernet address), otherwise (loopback, unknown) the general choice of
// GetLocalIPAddress.
std::string AnswerAddressFor(const in_addr* reached);

}  // namespace orrin
