#pragma once
// Shared pieces of the port core tests: a port wired to a recording device, a timeline that
// interleaves the port's handler calls with the device calls between them.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/device_directory.h"
#include "port/com_port.h"
#include "port/error_display.h"
#include "tests/support/error_display_recorder.h"
#include "tests/support/fake_device.h"

namespace velmora::platform {
// Field by field, so a failing row shows which field differs.
inline void PrintTo(const Dcb& d, std::ostream* os) {
  *os << "{len " << d.DCBlength << " baud " << d.BaudRate << " bin " << +d.fBinary << " par " << +d.fParity
      << " cts " << +d.fOutxCtsFlow << " dsr " << +d.fOutxDsrFlow << " dtr " << +d.fDtrControl << " dsrsens "
      << +d.fDsrSensitivity << " txcont " << +d.fTXContinueOnXoff << " outx " << +d.fOutX << " inx " << +d.fInX
      << " errc " << +d.fErrorChar << " null " << +d.fNull << " rts " << +d.fRtsControl << " abort "
      << +d.fAbortOnError << " dummy " << d.fDummy2 << " wres " << d.wReserved << " xonlim " << d.XonLim
      << " xofflim " << d.XoffLim << " size " << +d.ByteSize << " parity " << +d.Parity << " stop "
      << +d.StopBits << " xon " << +d.XonChar << " xoff " << +d.XoffChar << " errchar " << +d.ErrorChar
      << " eof " << +d.EofChar << " evt " << +d.EvtChar << " wres1 " << d.wReserved1 << "}";
}
}  // namespace velmora::platform

namespace velmora::port::test {

using velmora::test::ErrorDisplayRecorder;
using velmora::test::FakeDevice;

inline constexpr const char* kRecordingName = "REC";

// A ComPort1 whose directory serves `device` as "REC" (the port's name) and nothing else
// of its own. It watches no line events, so no monitor thread adds calls to the record and
// the record holds exactly what the owner's calls caused.
struct RecordedPort {
  std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  TComPort port{"ComPort1"};

  RecordedPort() {
    directory->Add(kRecordingName, device);
    port.SetDeviceDirectory(directory);
    port.SetPort(kRecordingName);
    port.SetEvents({});
  }
};

// Handler calls ("on:BeforeOpen", "on:CTS=1") with the device calls made before each, in order.
class Timeline {
 public:
  Timeline(TCustomComPort& port, FakeDevice& device) : port_(port), device_(device) {
    seen_ = device_.Calls().size();
    port.OnBeforeOpen = [this](TCustomComPort&) { Mark("on:BeforeOpen"); };
    port.OnAfterOpen = [this](TCustomComPort&) { Mark("on:AfterOpen"); };
    port.OnBeforeClose = [this](TCustomComPort&) { Mark("on:BeforeClose"); };
    port.OnAfterClose = [this](TCustomComPort&) { Mark("on:AfterClose"); };
    port.OnCTSChange = [this](TCustomComPort&, bool on) { Mark(on ? "on:CTS=1" : "on:CTS=0"); };
    port.OnDSRChange = [this](TCustomComPort&, bool on) { Mark(on ? "on:DSR=1" : "on:DSR=0"); };
    port.OnRLSDChange = [this](TCustomComPort&, bool on) { Mark(on ? "on:RLSD=1" : "on:RLSD=0"); };
  }

  // The port may outlive the timeline (a test's local against the fixture's port).
  ~Timeline() { port_.ClearHandlers(); }
  Timeline(const Timeline&) = delete;
  Timeline& operator=(const Timeline&) = delete;

  // Everything so far, device calls since the last handler included; starts a new stretch.
  std::vector<std::string> Take() {
    PullDeviceCalls();
    std::vector<std::string> out;
    out.swap(entries_);
    return out;
  }

 private:
  void Mark(const std::string& what) {
    PullDeviceCalls();
    entries_.push_back(what);
  }
  void PullDeviceCalls() {
    std::vector<std::string> names = device_.CallNames();
    for (size_t i = seen_; i < names.size(); ++i) entries_.push_back(names[i]);
    seen_ = names.size();
  }

  TCustomComPort& port_;
  FakeDevice& device_;
  size_t seen_ = 0;
  std::vector<std::string> entries_;
};

}  // namespace velmora::port::test
