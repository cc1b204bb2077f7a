#include "app/video_driver.h"

namespace orrin {

// Windows has one video driver and draws its own title bars.
WaylandCompositor ProbeWaylandCompositor() { return {}; }
bool TitleBarPluginInstalled() { return true; }
void TolerateLateWakeUps() {}
std::string TitleBarHint() { return {}; }

}  // namespace orrin
