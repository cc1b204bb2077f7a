#pragma once

#include <string>

namespace orrin {

// Texts others depend on. Senders read the device name (with its " (Windows)" suffix) in
// discovery answers, people know the titles and screens, and scripts and tests look for
// the start-up log lines below word for word. Change none of them without knowing who
// reads it.

inline constexpr char BASE_TITLE[] = "Tavoli网投屏接受客户端";
inline constexpr char CLIENT_NAME[] = "Tavoli投屏客户端";  // the information box and the connected screen
// Appended to the computer's name wherever the device is named.
inline constexpr char DEVICE_SUFFIX[] = " (Windows)";
inline constexpr char ERROR_CAPTION[] = "错误";

inline std::string DeviceName(const std::string& computerName) { return computerName + DEVICE_SUFFIX; }

inline std::string WaitingTitle() { return std::string(BASE_TITLE) + " - 等待连接..."; }
inline std::string ConnectedTitle(const std::string& clientInfo) {
  return std::string(BASE_TITLE) + " - 已连接: " + clientInfo;
}
inline std::string ScreenOnTitle() { return std::string(BASE_TITLE) + " - 屏幕已点亮"; }
inline std::string ScreenOffTitle() { return std::string(BASE_TITLE) + " - 设备息屏"; }

// Start-up lines kept from the receiver's first platform: log readers wait for them.
inline constexpr char DECODER_READY_LINE[] = "GDI+已初始化用于JPEG解码";
inline constexpr char TITLE_SET_LINE[] = "SetWindowTextW result: 1";
inline constexpr char TITLE_LENGTH_LINE[] = "Retrieved title length: ";

}  // namespace orrin
