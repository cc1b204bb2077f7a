#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/websocket/callbacks.h"

namespace orrin {

// A sender whose handshake succeeded but who waits for someone to let it cast. While it
// waits its messages go to `preview`; whoever holds the ticket decides once, from any
// thread, and the sender's thread then goes on as a sender or closes with status 1008.
class AdmissionTicket {
 public:
  enum class Decision { Pending, Admitted, Refused };

  explicit AdmissionTicket(SenderHooks preview = {}) : preview_(std::move(preview)) {}

  // The first decision stands; later ones change nothing. `reason` goes into the refusal's
  // log line.
  void Decide(bool admit, std::string reason = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (decision_.load() != Decision::Pending) return;
    reason_ = std::move(reason);
    decision_ = admit ? Decision::Admitted : Decision::Refused;
  }
  Decision decision() const { return decision_.load(); }
  std::string reason() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reason_;
  }
  // Used by the sender's thread only.
  SenderHooks& preview() { return preview_; }

 private:
  mutable std::mutex mutex_;
  std::atomic<Decision> decision_{Decision::Pending};
  std::string reason_;
  SenderHooks preview_;
};

// Asked on the sender's thread after a successful handshake, with "a.b.c.d:port" and the
// bare address. Null: the sender goes on at once. Otherwise it waits on the ticket.
using SenderAdmission =
    std::function<std::shared_ptr<AdmissionTicket>(const std::string& clientInfo, const std::string& source)>;

}  // namespace orrin
