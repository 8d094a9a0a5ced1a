#pragma once
// Values and records of the serial-device layer.
//
// The constants keep the numeric values of the Win32 communications API (event mask bits,
// error word bits, modem status bits, escape codes, purge flags), so the engine and its tests
// can be exact about masks and bits whatever backend sits below. `Dcb` and `CommTimeouts`
// carry the fields of the Win32 DCB and COMMTIMEOUTS by name; a Windows backend copies them
// one for one.
//
// A failed call reports the system's error number of the thread that made the call (errno on
// POSIX, GetLastError on Windows) in its `Status`, instead of a hidden "last error" slot.

#include <cstdint>

namespace velmora::platform {

// Event mask bits (SetCommMask / WaitCommEvent).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;

// Error word bits (ClearCommError).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_PTO = 0x0200;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_DNS = 0x0800;
inline constexpr uint32_t CE_OOP = 0x1000;
inline constexpr uint32_t CE_MODE = 0x8000;

// Modem status bits (GetCommModemStatus).
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// Escape codes (EscapeCommFunction).
inline constexpr uint32_t SETXOFF = 1;
inline constexpr uint32_t SETXON = 2;
inline constexpr uint32_t SETRTS = 3;
inline constexpr uint32_t CLRRTS = 4;
inline constexpr uint32_t SETDTR = 5;
inline constexpr uint32_t CLRDTR = 6;
inline constexpr uint32_t SETBREAK = 8;
inline constexpr uint32_t CLRBREAK = 9;

// Purge flags (PurgeComm).
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// DCB codes.
inline constexpr uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr uint8_t RTS_CONTROL_TOGGLE = 3;
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // a wait without timeout

// The device-control block: every field of the Win32 DCB, flag bits as separate members.
struct Dcb {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 0;
  uint8_t fBinary = 0;
  uint8_t fParity = 0;
  uint8_t fOutxCtsFlow = 0;
  uint8_t fOutxDsrFlow = 0;
  uint8_t fDtrControl = 0;
  uint8_t fDsrSensitivity = 0;
  uint8_t fTXContinueOnXoff = 0;
  uint8_t fOutX = 0;
  uint8_t fInX = 0;
  uint8_t fErrorChar = 0;
  uint8_t fNull = 0;
  uint8_t fRtsControl = 0;
  uint8_t fAbortOnError = 0;
  uint32_t fDummy2 = 0;  // the remaining flag bits
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = NOPARITY;
  uint8_t StopBits = ONESTOPBIT;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;

  bool operator==(const Dcb&) const = default;
};

// Driver timeouts in milliseconds; MAXDWORD has the Win32 meanings.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const CommTimeouts&) const = default;
};

struct ComStat {
  uint32_t cbInQue = 0;   // bytes waiting in the input queue
  uint32_t cbOutQue = 0;  // bytes not yet handed to the line
};

// Result of a device call: 0, or the system's error number of the failure.
struct [[nodiscard]] Status {
  int error = 0;
  explicit operator bool() const { return error == 0; }
  static Status Ok() { return {}; }
  static Status Failed(int systemError) { return {systemError}; }
};

// Result of starting an overlapped operation.
struct [[nodiscard]] IoStart {
  enum Kind : uint8_t { Completed, Pending, Failed };
  Kind kind = Completed;
  uint32_t transferred = 0;  // with Completed
  int error = 0;             // with Failed
};

// How a device's driver answered the request for low latency (received bytes handed over at
// once rather than when a USB adapter's latency timer runs out), asked for as the device opens.
enum class LowLatencyAnswer : uint8_t {
  NotOffered,  // the device has no such setting (a pseudo-terminal, a driver without TIOCGSERIAL)
  Granted,     // switched on for this session; switched off again at the close
  AlreadyOn,   // the device had it on; left so
  Refused,     // the driver said no (TIOCSSERIAL failed)
};

}  // namespace velmora::platform
