#include "app/prompt_queue.h"

#include "support/tick.h"

namespace orrin {

void PromptQueue::Add(ApprovalPrompt prompt, uint32_t now) {
  if (prompts_.empty()) frontSince_ = now;
  prompts_.push_back(std::move(prompt));
}

bool PromptQueue::Remove(const CastSession* preview, uint32_t now) {
  for (auto it = prompts_.begin(); it != prompts_.end(); ++it) {
    if (it->preview.get() != preview) continue;
    if (it == prompts_.begin()) {
      Pop(now);
    } else {
      prompts_.erase(it);
    }
    return true;
  }
  return false;
}

void PromptQueue::Pop(uint32_t now) {
  prompts_.pop_front();
  // The next one has its whole time from the moment it shows.
  frontSince_ = now;
}

bool PromptQueue::Answer(bool admit, uint32_t now) {
  if (prompts_.empty()) return false;
  ApprovalPrompt prompt = std::move(prompts_.front());
  Pop(now);
  if (prompt.answer) prompt.answer(admit, admit ? "" : "refused by the user");
  return true;
}

bool PromptQueue::Expire(uint32_t now) {
  if (prompts_.empty() || TicksBetween(frontSince_, now) < timeoutMs_) return false;
  ApprovalPrompt prompt = std::move(prompts_.front());
  Pop(now);
  if (prompt.answer) prompt.answer(false, "no answer in " + std::to_string(timeoutMs_ / 1000) + " s");
  return true;
}

int PromptQueue::SecondsLeft(uint32_t now) const {
  if (prompts_.empty()) return 0;
  const uint32_t elapsed = TicksBetween(frontSince_, now);
  if (elapsed >= timeoutMs_) return 0;
  return static_cast<int>((timeoutMs_ - elapsed + 999) / 1000);
}

void PromptQueue::RefuseAll() {
  while (!prompts_.empty()) {
    ApprovalPrompt prompt = std::move(prompts_.front());
    prompts_.pop_front();
    if (prompt.answer) prompt.answer(false, "the receiver is closing");
  }
}

}  // namespace orrin
