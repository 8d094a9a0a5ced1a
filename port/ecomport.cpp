#include "port/ecomport.h"

#include <string>

namespace velmora::port {

namespace {

constexpr const char* kMessages[kComErrorCount] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string WithSystemNumber(int errorNumber, int systemError) {
  // No table text holds a '%', so appending the number is the same as formatting it in.
  return std::string(ComErrorText(errorNumber)) + " (win error code: " + std::to_string(systemError) + ")";
}

}  // namespace

const char* ComErrorText(int errorNumber) {
  if (errorNumber < 1 || errorNumber > kComErrorCount) return "";
  return kMessages[errorNumber - 1];
}

EComPort::EComPort(int errorNumber)
    : std::runtime_error(ComErrorText(errorNumber)), errorNumber_(errorNumber), winErrorCode_(-1) {}

EComPort::EComPort(int errorNumber, int systemError, std::string detail)
    : std::runtime_error(WithSystemNumber(errorNumber, systemError)),
      errorNumber_(errorNumber),
      winErrorCode_(systemError),
      detail_(std::move(detail)) {}

}  // namespace velmora::port
