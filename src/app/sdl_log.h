#pragma once

#include <string>

namespace orrin {

// SDL's own notices ("CRITICAL: ...") go through our log functions, stamped like every
// other line: errors and critical notices as errors, the rest as information.
void RouteSdlLogThroughOurs();

// The message as it is logged: "SDL " + SDL's priority word + ": " + its text, trailing
// line breaks removed and control bytes escaped (exposed for tests).
std::string SdlLogMessage(int priority, const char* text);

}  // namespace orrin
