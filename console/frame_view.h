#pragma once
// The frame view: the line's traffic, both directions, one line per frame in time order.
//
// The window hands over what it received (with the times the device's I/O thread took the
// bytes off the line), what it wrote, the keying of the transmitter and the line conditions;
// FrameSplitter cuts frames, and every finished frame becomes one line, told by `FrameLine`
// whatever the receive pane shows at the time (the pane, the capture and anything else that
// keeps a record take it from there):
//
//   12:04:31.190 +1532 мс →   8  01 03 00 00 00 01 84 0A   ........  CRC ✓
//
// the local time of the frame's first byte to the millisecond, the silence before it (from the
// end of the previous frame of either direction), the direction (→ sent, ← received), the byte
// count, the bytes in hexadecimal with the line conditions where they happened, the bytes as
// Windows-1251 text with the receive pane's stand-ins for control characters, the checksum
// verdict, and "эхо" or "коллизия" for what was heard back while the transmitter was keyed.
// A frame ends by silence one gap after its last byte; its line is told when the next traffic
// comes or, on a line gone quiet, by the view's own timer a little (50 ms) later.
//
// The view also tells, as a line of its own, when the device's driver refused the low latency
// that keeps received times true.
//
// Used on the user-interface thread only.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "console/frame_splitter.h"
#include "platform/comm_device.h"

namespace velmora::console {

class FrameView : public QObject {
  Q_OBJECT

 public:
  explicit FrameView(QObject* parent = nullptr);

  void SetGap(FrameClock::duration gap) { splitter_.SetGap(gap); }
  // Asked for the gap whenever traffic is cut into frames and by Gap(), so that it follows the
  // port's line settings.
  void SetGapSource(std::function<FrameClock::duration()> source) { gapSource_ = std::move(source); }
  FrameClock::duration Gap() const { return gapSource_ ? gapSource_() : splitter_.Gap(); }

  // Received bytes; `times` as TComPort::ReadTextTimed gives them (none: taken as now). Only
  // while lines are wanted, as the bytes sent and the line conditions below.
  void NoteReceived(std::string_view bytes, const std::vector<platform::ArrivalTime>& times);
  // Bytes the window wrote to the line, now. The one place the sent side enters.
  void NoteSent(std::string_view bytes);
  void NoteKeyed(bool on);
  void NoteLineError(const QString& marker);
  // The device's driver refused low latency: a line says so.
  void NoteLowLatencyRefused(const QString& device);
  // Ends what is open (the port closes).
  void Finish();
  // Whether anyone takes the lines now (the pane shows frames, a record is kept). While nobody
  // does, the traffic is not looked at (only the keying is followed), which would cost the other
  // display modes their speed; once someone does, frames are cut as on a line just opened, so
  // that nothing from before, such as the rest of a frame begun then, shows as a frame.
  void SetLinesWanted(bool wanted);
  bool LinesWanted() const { return linesWanted_; }

  // The note of a driver's refusal.
  static QString LowLatencyRefusedLine(const QString& device, const QDateTime& at);
  // The colour a frame's line is shown in: sent frames apart from received ones, our own echo
  // greyed, a collision in the colour of an error; none for other lines.
  static std::optional<QColor> LineColour(const QString& line);
  // One frame's line; `firstByte` the local time of its first byte.
  static QString FormatLine(const Frame& frame, const QDateTime& firstByte);
  // The local time of a moment of the steady clock.
  static QDateTime WallTime(FrameClock::time_point at);

 signals:
  // A finished frame's line (or the view's own note), at `time`, the frame's first byte.
  void FrameLine(const QString& line, const QDateTime& time);

 private:
  void UpdateGap();
  void Tell(std::vector<Frame>& done);
  void ArmExpiry();
  void OnExpiry();

  FrameSplitter splitter_;
  QTimer expiry_;
  std::vector<Frame> done_;
  std::function<FrameClock::duration()> gapSource_;
  bool linesWanted_ = true;
};

}  // namespace velmora::console
