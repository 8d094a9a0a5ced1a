#pragma once
// The application's error display: the one place an error goes when no caller can take it
// (an open that runs after loading, an exception at an event-handler boundary, a close that
// fails while the port is being destroyed).
//
// The program installs one display at start-up (the window shows a message box; tests record
// the message). Until one is installed, messages go to standard error. This hook is the only
// process-wide state of the project. Installing and showing are safe from any thread; the
// display itself runs on the thread that shows.

#include <functional>
#include <string>

namespace velmora::port {

using ErrorDisplay = std::function<void(const std::string& message)>;

// Installs `display` (an empty one restores the standard-error default); returns the previous.
ErrorDisplay SetErrorDisplay(ErrorDisplay display);

void ShowError(const std::string& message);

// For a catch block: shows the message of the exception being handled.
void ShowCurrentException();

}  // namespace velmora::port
