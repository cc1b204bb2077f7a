#pragma once

#include <string>
#include <vector>

#include "app/receiver_options.h"

namespace orrin {

// The information shown once the receiver is up: who it is, where, and how to use it.
std::string StartupInfoText(const std::string& computerName, const std::string& localIP, int port);

// Whether SDL's chosen video driver shows windows to a person: the windowless drivers
// (offscreen, dummy) count only when SDL_VIDEODRIVER names them.
bool IsRealDisplayDriver(const char* driver, const char* requested);

// The whole process: window (or none, when no display can be opened), services, event
// loop, orderly stop. Returns the exit code: 0 after a normal close or SIGINT/SIGTERM,
// 1 when start-up fails, 2 for a bad command line.
int RunReceiver(const std::vector<std::string>& args = {});

}  // namespace orrin
