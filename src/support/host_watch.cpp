#include "support/host_watch.h"

#include "support/host_identity.h"
#include "support/log.h"
#include "support/utf8.h"

namespace orrin {

HostIdentity ReadHostIdentity() {
  return HostIdentity{SanitizeUtf8(GetLocalComputerName()), SanitizeUtf8(GetInterfaceIPAddress())};
}

HostWatch::HostWatch(std::function<HostIdentity()> read) : read_(std::move(read)), current_(read_()) {}

bool HostWatch::Check() {
  HostIdentity now = read_();
  if (now == current_) return false;
  if (now.address != current_.address) LogInfo("本机IP地址已变更: " + current_.address + " -> " + now.address);
  if (now.computerName != current_.computerName) {
    LogInfo("本机名称已变更: " + current_.computerName + " -> " + now.computerName);
  }
  current_ = std::move(now);
  return true;
}

}  // namespace orrin
