#include "app/tile_set.h"

#include <algorithm>

namespace orrin {

size_t TileSet::Add(std::shared_ptr<CastSession> session, uint32_t now) {
  const bool first = Count() == 0;
  size_t place = focus_;
  for (size_t i = 0; i < places_.size(); ++i) {
    if (places_[i].session == nullptr) {
      place = i;
      break;
    }
  }
  places_[place] = Place{std::move(session), now};
  if (first) focus_ = place;
  return place;
}

bool TileSet::Remove(const CastSession* session) {
  const std::optional<size_t> place = PlaceOf(session);
  if (!place) return false;
  places_[*place] = Place{};
  if (*place == focus_) {
    const std::vector<size_t> taken = Taken();
    focus_ = taken.empty() ? 0 : taken.front();
  }
  if (Count() <= 1) zoomed_ = false;
  return true;
}

void TileSet::Clear() {
  for (Place& place : places_) place = Place{};
  focus_ = 0;
  zoomed_ = false;
}

std::optional<size_t> TileSet::PlaceOf(const CastSession* session) const {
  if (session == nullptr) return std::nullopt;
  for (size_t i = 0; i < places_.size(); ++i) {
    if (places_[i].session.get() == session) return i;
  }
  return std::nullopt;
}

size_t TileSet::Count() const {
  return static_cast<size_t>(
      std::count_if(places_.begin(), places_.end(), [](const Place& place) { return place.session != nullptr; }));
}

std::vector<size_t> TileSet::Taken() const {
  std::vector<size_t> taken;
  for (size_t i = 0; i < places_.size(); ++i) {
    if (places_[i].session != nullptr) taken.push_back(i);
  }
  return taken;
}

std::vector<size_t> TileSet::Shown() const {
  if (zoomed() && Focused() != nullptr) return {focus_};
  return Taken();
}

bool TileSet::FocusNext() {
  const std::vector<size_t> taken = Taken();
  if (taken.empty()) return false;
  auto next = std::upper_bound(taken.begin(), taken.end(), focus_);
  focus_ = next == taken.end() ? taken.front() : *next;
  return true;
}

bool TileSet::FocusNumber(size_t n) {
  const std::vector<size_t> taken = Taken();
  if (n < 1 || n > taken.size()) return false;
  focus_ = taken[n - 1];
  return true;
}

bool TileSet::FocusPlace(size_t place) {
  if (At(place) == nullptr) return false;
  focus_ = place;
  return true;
}

}  // namespace orrin
