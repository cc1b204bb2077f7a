// What the receiver tells about itself at start, and which video drivers count as a display.
#include <string>

#include "app/fixed_texts.h"
#include "app/receiver.h"

namespace orrin {

bool IsRealDisplayDriver(const char* driver, const char* requested) {
  if (driver == nullptr) return false;
  // SDL falls back to its windowless drivers when no display answers; a window there is
  // seen by nobody. They count only when asked for by name (tests do).
  const std::string name = driver;
  const bool windowless = name == "offscreen" || name == "dummy" || name == "evdev";
  return !windowless || (requested != nullptr && name == requested);
}

std::string StartupInfoText(const std::string& computerName, const std::string& localIP, int port) {
  return "投屏接收端已启动\n\n"
         "设备名称: " + DeviceName(computerName) + "\n"
         "IP地址: " + localIP + "\n"
         "WebSocket端口: " + std::to_string(port) + "\n\n"
         "使用说明:\n"
         "* 确保手机和电脑在同一网络\n"
         "* 在手机投屏应用中搜索设备\n"
         "* 连接后按F11进入全屏\n"
         "* 按ESC退出全屏";
}

}  // namespace orrin
