#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace orrin {

class CastSession;

// A sender that waits to be let in: its preview (pictures read while it waits) and where
// the answer goes (admit or not, with the reason for the log).
struct ApprovalPrompt {
  std::shared_ptr<CastSession> preview;
  std::function<void(bool admit, const std::string& reason)> answer;
};

// The prompts, one shown at a time, oldest first. The one shown is refused once it has
// had no answer for the time-out. Main thread only.
class PromptQueue {
 public:
  explicit PromptQueue(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

  void Add(ApprovalPrompt prompt, uint32_t now);
  // The sender of `preview` left while it waited: its prompt goes unanswered. True when it
  // was there.
  bool Remove(const CastSession* preview, uint32_t now);
  // The prompt shown, or null.
  const ApprovalPrompt* Front() const { return prompts_.empty() ? nullptr : &prompts_.front(); }
  size_t size() const { return prompts_.size(); }
  // Y or N for the prompt shown. False when none is.
  bool Answer(bool admit, uint32_t now);
  // Refuses the prompt shown when its time is up. True when it did.
  bool Expire(uint32_t now);
  // Whole seconds the prompt shown has left (rounded up).
  int SecondsLeft(uint32_t now) const;
  // Every prompt refused (the window is closing).
  void RefuseAll();

 private:
  void Pop(uint32_t now);

  const uint32_t timeoutMs_;
  std::deque<ApprovalPrompt> prompts_;
  uint32_t frontSince_ = 0;  // Tick() when the front prompt was first shown
};

}  // namespace orrin
