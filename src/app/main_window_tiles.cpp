// The MainWindow with several senders (tiles, focus, the focused one alone) and with
// senders that wait to be let in (the prompt).
#include <algorithm>

#include "app/fixed_texts.h"
#include "app/key_bindings.h"
#include "app/main_window.h"
#include "support/log.h"
#include "support/tick.h"

namespace orrin {

namespace {

// The label with the sender's address shows this long, its last part fading out.
constexpr uint32_t LABEL_SHOWN_MS = 4000;
constexpr uint32_t LABEL_FADE_MS = 1000;
constexpr int64_t LABEL_FADE_STEP_NS = 100'000'000;

uint8_t LabelAlpha(uint32_t since, uint32_t now) {
  const uint32_t age = TicksBetween(since, now);
  if (age >= LABEL_SHOWN_MS) return 0;
  if (age + LABEL_FADE_MS <= LABEL_SHOWN_MS) return 255;
  return static_cast<uint8_t>(255 * (LABEL_SHOWN_MS - age) / LABEL_FADE_MS);
}

}  // namespace

void MainWindow::ShowPrompt(ApprovalPrompt prompt) {
  if (prompt.preview == nullptr) return;
  LogInfo("等待允许投屏: " + prompt.preview->clientInfo());
  prompts_.Add(std::move(prompt), Tick());
  needsPaint_ = true;
}

void MainWindow::PromptEnded(const CastSession* preview) {
  if (prompts_.Remove(preview, Tick())) needsPaint_ = true;
}

void MainWindow::FocusChanged() {
  const CastSession* focused = tiles_.Focused();
  if (focused == focusTold_) return;
  focusTold_ = focused;
  if (focusListener_) focusListener_(focused);
}

bool MainWindow::HandleTileAction(int action) {
  const auto key = static_cast<KeyAction>(action);
  if (key == KeyAction::Admit || key == KeyAction::Refuse) {
    if (prompts_.Answer(key == KeyAction::Admit, Tick())) needsPaint_ = true;
    return true;
  }
  const bool tileKey = key == KeyAction::FocusNext || key == KeyAction::ToggleZoom || key == KeyAction::FocusTile1 ||
                       key == KeyAction::FocusTile2 || key == KeyAction::FocusTile3 || key == KeyAction::FocusTile4;
  if (!tileKey) return false;
  if (!multi()) return true;  // one sender: nothing to move between
  switch (key) {
    case KeyAction::FocusNext:
      tiles_.FocusNext();
      break;
    case KeyAction::ToggleZoom:
      tiles_.ToggleZoom();
      LogInfo(tiles_.zoomed() ? "单独显示焦点画面" : "恢复多画面显示");
      break;
    default:
      tiles_.FocusNumber(static_cast<size_t>(action - static_cast<int>(KeyAction::FocusTile1)) + 1);
      break;
  }
  if (CastSession* focused = tiles_.Focused()) SetTitle(ConnectedTitle(focused->clientInfo()));
  FocusChanged();
  needsPaint_ = true;
  return true;
}

void MainWindow::ClickAt(SDL_Point at) {
  if (!painter_) return;
  const std::optional<size_t> index = painter_->TileAt(at.x, at.y);
  const std::vector<size_t> shown = tiles_.Shown();
  if (!index || *index >= shown.size() || shown.size() < 2) return;
  if (tiles_.FocusPlace(shown[*index])) {
    SetTitle(ConnectedTitle(tiles_.Focused()->clientInfo()));
    FocusChanged();
    needsPaint_ = true;
  }
}

bool MainWindow::HasUndrawnTile() const {
  if (!painter_) return false;
  if (!multi()) {
    const CastSession* shown = tiles_.Focused();
    return shown != nullptr && painter_->HasUndrawnPicture(&shown->picture());
  }
  for (size_t place : tiles_.Shown()) {
    if (const CastSession* session = tiles_.At(place);
        session != nullptr && painter_->tile(place).HasUndrawn(&session->picture())) {
      return true;
    }
  }
  return false;
}

void MainWindow::PaintTiles(bool timed, int64_t) {
  const uint32_t now = Tick();
  const std::vector<size_t> shown = tiles_.Shown();
  std::vector<TileInput> inputs;
  size_t focusIndex = 0;
  bool fading = false;
  for (size_t place : shown) {
    CastSession* session = tiles_.At(place);
    // Before the picture is read: one stored after this asks again.
    if (std::optional<int64_t> next = session->RepaintTaken()) RepaintAt(*next);
    if (place == tiles_.focus()) focusIndex = inputs.size();
    TileInput input;
    input.place = place;
    input.picture = &session->picture();
    input.connected = session->connected();
    input.screenActive = session->screenActive();
    input.timed = timed;
    input.label = session->clientInfo();
    input.labelAlpha = LabelAlpha(tiles_.Since(place), now);
    fading = fading || input.labelAlpha != 0;
    inputs.push_back(std::move(input));
  }
  if (inputs.empty()) {
    // Nobody casts: the waiting screen, as with one sender.
    painter_->Paint(PaintInput{nullptr, false, true, frame_.fullscreen(), false});
    return;
  }
  painter_->PaintTiles(inputs, focusIndex, frame_.fullscreen());
  // Each sender's next picture is decoded for its tile.
  for (size_t i = 0; i < shown.size(); ++i) tiles_.At(shown[i])->SetDrawArea(painter_->tileArea(i));
  if (fading) RepaintAt(TickNs() + LABEL_FADE_STEP_NS);
}

void MainWindow::PaintPrompt() {
  const ApprovalPrompt* prompt = prompts_.Front();
  if (prompt == nullptr) {
    promptShown_ = nullptr;
    return;
  }
  CastSession& preview = *prompt->preview;
  if (promptShown_ != &preview) {
    promptShown_ = &preview;
    painter_->ForgetPreview();
  }
  if (std::optional<int64_t> next = preview.RepaintTaken()) RepaintAt(*next);
  painter_->DrawApproval(
      ApprovalView{preview.clientInfo(), &preview.picture(), prompts_.SecondsLeft(Tick()), prompts_.size() - 1});
  preview.SetDrawArea(painter_->previewArea());
}

}  // namespace orrin
