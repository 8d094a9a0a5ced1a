#pragma once
// The boundary between a handler and Qt's event loop: whatever the handler raises goes to the
// application's error display, and the window goes on.

#include "port/error_display.h"

namespace velmora::console {

template <typename Body>
void Guarded(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    port::ShowCurrentException();
  }
}

}  // namespace velmora::console
