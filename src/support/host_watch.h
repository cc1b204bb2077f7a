#pragma once

#include <functional>
#include <string>

namespace orrin {

// Who this machine is to a phone: the name and the address shown on the waiting screen and
// in the information text, made safe to draw.
struct HostIdentity {
  std::string computerName;
  std::string address;
  bool operator==(const HostIdentity&) const = default;
};

// The identity as the interfaces give it now. Never waits for a resolver, so the window
// may ask it on its own thread.
HostIdentity ReadHostIdentity();

// Notices a laptop that moved from Ethernet to Wi-Fi, got a new DHCP lease or was renamed:
// each Check reads the identity again and says whether it differs from the last reading.
class HostWatch {
 public:
  explicit HostWatch(std::function<HostIdentity()> read = ReadHostIdentity);

  const HostIdentity& current() const { return current_; }
  // Reads again; on a change writes one line naming the old and new address (or name)
  // and returns true.
  bool Check();

 private:
  std::function<HostIdentity()> read_;
  HostIdentity current_;
};

}  // namespace orrin
