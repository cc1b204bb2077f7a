#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <dirent.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/video_driver.h"

namespace orrin {

namespace {

struct Globals {
  bool seat = false;
  bool decorations = false;
};

void OnGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, "wl_seat") == 0) globals->seat = true;
  if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0) globals->decorations = true;
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener REGISTRY_LISTENER{OnGlobal, OnGlobalRemove};

// SDL wakes its waiting main thread from other threads by sending an event to the window
// over a second connection. When the window is destroyed right after (the close path's
// last wake-up), the server can take the destruction first and answer the send with
// BadWindow; Xlib's default handler would then end the process with exit code 1 at
// SDL_Quit. Every other error goes to the handler that was there before, as it always did.
XErrorHandler previousHandler = nullptr;

int OnXError(Display* display, XErrorEvent* error) {
  if (error->error_code == BadWindow && error->request_code == X_SendEvent) return 0;
  return previousHandler != nullptr ? previousHandler(display, error) : 0;
}

bool HasPlugin(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) found = true;
  }
  closedir(dir);
  return found;
}

}  // namespace

WaylandCompositor ProbeWaylandCompositor() {
  // libwayland complains on stderr when it has no runtime directory to look in; SDL would
  // find no compositor there either.
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if ((name == nullptr || name[0] != '/') && (runtime == nullptr || runtime[0] == '\0')) return {};
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return {};
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &REGISTRY_LISTENER, &globals);
  // The compositor announces its globals in answer to the registry request; the round
  // trip waits until all of them are in.
  const bool answered = wl_display_roundtrip(display) >= 0;
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  if (!answered) return {};
  return {globals.seat ? WaylandSeat::Present : WaylandSeat::Missing, globals.decorations};
}

void TolerateLateWakeUps() {
  if (previousHandler == nullptr) previousHandler = XSetErrorHandler(OnXError);
}

bool TitleBarPluginInstalled() {
  if (const char* directory = std::getenv("LIBDECOR_PLUGIN_DIR")) return HasPlugin(directory);
  for (const char* directory :
       {"/usr/lib/" ORRIN_LIBRARY_ARCHITECTURE "/libdecor/plugins-1", "/usr/lib64/libdecor/plugins-1",
        "/usr/lib/libdecor/plugins-1", "/usr/local/lib/libdecor/plugins-1"}) {
    if (HasPlugin(directory)) return true;
  }
  return false;
}

std::string TitleBarHint() {
  return "The window has no title bar on this Wayland desktop: libdecor has no plugin to draw one. "
         "Install libdecor-0-plugin-1-cairo (Debian, Ubuntu) or your distribution's libdecor plugin";
}

}  // namespace orrin
