#include "port/error_display.h"

#include <cstdio>
#include <exception>
#include <mutex>

namespace velmora::port {

namespace {

struct Hook {
  std::mutex mutex;
  ErrorDisplay display;
};

Hook& TheHook() {
  static Hook hook;
  return hook;
}

}  // namespace

ErrorDisplay SetErrorDisplay(ErrorDisplay display) {
  Hook& hook = TheHook();
  std::lock_guard lock(hook.mutex);
  std::swap(hook.display, display);
  return display;
}

void ShowError(const std::string& message) {
  ErrorDisplay display;
  {
    // Copied out so that a display that shows a modal box does not hold the lock meanwhile.
    Hook& hook = TheHook();
    std::lock_guard lock(hook.mutex);
    display = hook.display;
  }
  if (display)
    display(message);
  else
    std::fprintf(stderr, "%s\n", message.c_str());
}

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("unknown error");
  }
}

}  // namespace velmora::port
