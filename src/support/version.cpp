#include "support/version.h"

#include "orrin_version.h"

namespace orrin {

// Alone in this file so a new commit recompiles one source, not every user of the version.
const char* VersionText() { return ORRIN_VERSION_TEXT; }

}  // namespace orrin
