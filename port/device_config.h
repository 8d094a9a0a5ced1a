#pragma once
// Pure translations of the port's settings into what the device is configured with: the
// device-control block, the timeout block, the composite flow-control view. No device, no
// state, no errors: the device judges the values (an unsupported rate is refused there).

#include <cstdint>

#include "platform/comm_types.h"
#include "port/setting_values.h"

namespace velmora::port {

// Bits per second of a rate; `custom` is used only for brCustom and is passed unchanged.
uint32_t BaudRateValue(TBaudRate rate, int32_t custom);

// The device-control block, every field set from the settings (nothing is read back from the
// device): binary mode always, abort-on-error never, XonLim = XoffLim = a quarter of the input
// queue, the error character only when parity is both checked and replaced.
platform::Dcb BuildDcb(const LineValues& line);

// -1 becomes the device's largest value (for the read interval: no interval timeout); any
// other value passes unchanged as an unsigned 32-bit number.
uint32_t TimeoutToDevice(int32_t value);

platform::CommTimeouts BuildCommTimeouts(const TimeoutValues& timeouts);

// The composite view of ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut; nothing else counts.
TFlowControl CompositeFlowControl(const FlowControlValues& flow);

// Writes the composite view into those four fields: fcHardware, fcSoftware and fcNone set all
// four, fcCustom leaves every field as it is.
void StoreCompositeFlowControl(FlowControlValues& flow, TFlowControl composite);

}  // namespace velmora::port
