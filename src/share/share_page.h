#pragma once

namespace orrin {

// The shared view's page, its script and its style: three separate answers so the page runs
// under a Content-Security-Policy that allows nothing but its own origin (no inline code).
// Nothing in them loads from elsewhere; the page works without a connection to anywhere but
// the receiver.
const char* SharePageHtml();
const char* ShareScript();
const char* ShareStyle();

}  // namespace orrin
