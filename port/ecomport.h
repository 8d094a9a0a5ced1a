#pragma once
// EComPort: the one error the serial port engine raises.
//
// An error carries its number in the engine's fixed message table (1 … 23) and, when a system
// call failed, the system's error number of that call (errno on POSIX, as the device layer
// returns it), taken in the thread that failed. Its message is the table text, followed by
// " (win error code: N)" whenever a system number is attached, also when N is 0. The operator's
// sentence that the device layer may add (for example that the user is not in the group that
// owns the device) travels beside the message in `Detail()` and never changes the message.
//
// Plain value type; safe to copy between threads.

#include <stdexcept>
#include <string>

namespace velmora::port {

// Numbers of the message table. Entries that no operation raises keep their places.
inline constexpr int kErrOpen = 1;
inline constexpr int kErrWriteFile = 2;
inline constexpr int kErrReadFile = 3;
inline constexpr int kErrInvalidAsync = 4;
inline constexpr int kErrPurge = 5;
inline constexpr int kErrAsyncStatus = 6;
inline constexpr int kErrSetState = 7;
inline constexpr int kErrSetTimeouts = 8;
inline constexpr int kErrSetupComm = 9;
inline constexpr int kErrClearComm = 10;
inline constexpr int kErrModemStatus = 11;
inline constexpr int kErrEscapeComm = 12;
inline constexpr int kErrTransmitChar = 13;
inline constexpr int kErrConnected = 14;
inline constexpr int kErrEnumPorts = 15;
inline constexpr int kErrStoreSettings = 16;
inline constexpr int kErrLoadSettings = 17;
inline constexpr int kErrRegisterLink = 18;
inline constexpr int kErrLedState = 19;
inline constexpr int kErrThreadCreated = 20;
inline constexpr int kErrWaitFailed = 21;
inline constexpr int kErrHasLink = 22;
inline constexpr int kErrRegistry = 23;

inline constexpr int kComErrorCount = 23;

// The table text of `errorNumber`; an empty text outside 1 … 23.
const char* ComErrorText(int errorNumber);

class EComPort : public std::runtime_error {
 public:
  // Without a system number: WinErrorCode() is -1 and the message is the table text.
  explicit EComPort(int errorNumber);
  // With the system number of the failed call: the message ends with the number.
  EComPort(int errorNumber, int systemError, std::string detail = {});

  int ErrorNumber() const { return errorNumber_; }
  int WinErrorCode() const { return winErrorCode_; }
  // What the operator can do about it, when the device layer said so; otherwise empty.
  const std::string& Detail() const { return detail_; }

 private:
  int errorNumber_;
  int winErrorCode_;
  std::string detail_;
};

}  // namespace velmora::port
