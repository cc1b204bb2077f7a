#pragma once

namespace orrin {

// "0.1.0", or "0.1.0 (a3746d0-dirty)" when built from a git checkout.
const char* VersionText();

}  // namespace orrin
