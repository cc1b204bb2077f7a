#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orrin {

class CastSession;

// The senders shown at once: which place each one has, which has the focus and whether the
// focused one is shown alone. A place keeps its sender until it leaves, so tiles do not
// change places when another sender comes or goes. Main thread only.
class TileSet {
 public:
  explicit TileSet(size_t places) : places_(places < 1 ? 1 : places) {}

  size_t places() const { return places_.size(); }
  // Puts `session` into the first free place (when none is free, in place of the focused
  // one) and returns that place. The first sender gets the focus.
  size_t Add(std::shared_ptr<CastSession> session, uint32_t now);
  // Frees the place of `session`; false when it had none. A focus there moves to the first
  // sender left; alone, nobody is zoomed any more.
  bool Remove(const CastSession* session);
  void Clear();

  std::optional<size_t> PlaceOf(const CastSession* session) const;
  CastSession* At(size_t place) const { return place < places_.size() ? places_[place].session.get() : nullptr; }
  // When the sender in `place` came (Tick()).
  uint32_t Since(size_t place) const { return place < places_.size() ? places_[place].since : 0; }
  CastSession* Focused() const { return At(focus_); }
  size_t focus() const { return focus_; }
  size_t Count() const;
  bool zoomed() const { return zoomed_ && Count() > 1; }

  // The places drawn, in order: every taken one, or only the focused one while zoomed.
  std::vector<size_t> Shown() const;
  // Tab: the next taken place after the focused one, round.
  bool FocusNext();
  // Keys 1-4: the n-th (from 1) taken place. False when there is none.
  bool FocusNumber(size_t n);
  // A click: `place`, if taken.
  bool FocusPlace(size_t place);
  // Z: the focused sender alone in the window, and back.
  void ToggleZoom() { zoomed_ = !zoomed_; }

 private:
  struct Place {
    std::shared_ptr<CastSession> session;
    uint32_t since = 0;
  };
  std::vector<size_t> Taken() const;

  std::vector<Place> places_;
  size_t focus_ = 0;
  bool zoomed_ = false;
};

}  // namespace orrin
