#include "console/frame_view.h"

#include <algorithm>

#include "console/cp1251.h"
#include "console/receive_view.h"

namespace velmora::console {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// The columns of the bytes line up for frames of up to this many bytes; longer ones run on.
constexpr int kAlignedBytes = 8;

QString HexAndMarkers(const Frame& frame) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  QString out;
  out.reserve(static_cast<qsizetype>(frame.bytes.size() * 3));
  auto marker = frame.markers.begin();
  const auto markersAt = [&](size_t position) {
    for (; marker != frame.markers.end() && marker->first == position; ++marker) {
      if (!out.isEmpty()) out += u' ';
      out += QString::fromLatin1(marker->second);
    }
  };
  for (size_t i = 0; i < frame.bytes.size(); ++i) {
    markersAt(i);
    if (!out.isEmpty()) out += u' ';
    const auto b = static_cast<uint8_t>(frame.bytes[i]);
    out += QChar(kDigits[b >> 4]);
    out += QChar(kDigits[b & 15]);
  }
  markersAt(frame.bytes.size());
  return out;
}

QString Text(const std::string& bytes) {
  QString text = DecodeCp1251(bytes);
  for (QChar& c : text) c = ReceiveTextView::Shown(c);
  return text;
}

}  // namespace

FrameView::FrameView(QObject* parent) : QObject(parent), splitter_(std::chrono::microseconds(1750)) {
  expiry_.setSingleShot(true);
  expiry_.setTimerType(Qt::PreciseTimer);
  connect(&expiry_, &QTimer::timeout, this, &FrameView::OnExpiry);
}

QDateTime FrameView::WallTime(FrameClock::time_point at) {
  const auto ago = FrameClock::now() - at;
  const auto wall = std::chrono::system_clock::now() - duration_cast<std::chrono::system_clock::duration>(ago);
  const auto ms = duration_cast<milliseconds>(wall.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms);
}

std::optional<QColor> FrameView::LineColour(const QString& line) {
  // The direction stands in a fixed column after the time and the silence.
  constexpr int kDirectionColumn = 22;
  if (line.size() <= kDirectionColumn) return std::nullopt;
  if (line.endsWith(QStringLiteral("  коллизия"))) return QColor(0xB0, 0x00, 0x00);
  if (line.endsWith(QStringLiteral("  эхо"))) return QColor(0x90, 0x90, 0x90);
  if (line.at(kDirectionColumn) == u'→') return QColor(0x00, 0x3C, 0xB4);
  return std::nullopt;
}

QString FrameView::FormatLine(const Frame& frame, const QDateTime& firstByte) {
  QString line = firstByte.toString(QStringLiteral("HH:mm:ss.zzz"));
  line += u' ';
  if (frame.silence) {
    const auto ms = duration_cast<milliseconds>(*frame.silence).count();
    line += (QStringLiteral("+") + QString::number(ms)).rightJustified(5) + QStringLiteral(" мс ");
  } else {
    line += QString(9, u' ');
  }
  line += frame.direction == FrameDirection::Sent ? QStringLiteral("→ ") : QStringLiteral("← ");
  line += QString::number(frame.bytes.size()).rightJustified(3);
  line += QStringLiteral("  ");
  line += HexAndMarkers(frame).leftJustified(kAlignedBytes * 3 - 1);
  line += QStringLiteral("   ");
  line += Text(frame.bytes).leftJustified(kAlignedBytes);
  if (frame.check == FrameCheck::Crc) line += QStringLiteral("  CRC ✓");
  if (frame.check == FrameCheck::Lrc) line += QStringLiteral("  LRC ✓");
  if (frame.echo == FrameEcho::Echo) line += QStringLiteral("  эхо");
  if (frame.echo == FrameEcho::Collision) line += QStringLiteral("  коллизия");
  while (line.endsWith(u' ')) line.chop(1);
  return line;
}

void FrameView::UpdateGap() {
  if (gapSource_) splitter_.SetGap(gapSource_());
}

void FrameView::NoteReceived(std::string_view bytes, const std::vector<platform::ArrivalTime>& times) {
  UpdateGap();
  if (times.empty()) {
    splitter_.Add(FrameDirection::Received, bytes, FrameClock::now(), done_);
  } else {
    for (size_t i = 0; i < times.size(); ++i) {
      const size_t from = std::min<size_t>(times[i].position, bytes.size());
      const size_t to = i + 1 < times.size() ? std::min<size_t>(times[i + 1].position, bytes.size()) : bytes.size();
      splitter_.Add(FrameDirection::Received, bytes.substr(from, to - from), times[i].time, done_);
    }
  }
  Tell(done_);
}

void FrameView::NoteSent(std::string_view bytes) {
  UpdateGap();
  splitter_.Add(FrameDirection::Sent, bytes, FrameClock::now(), done_);
  Tell(done_);
}

void FrameView::NoteKeyed(bool on) {
  splitter_.SetKeyed(on, done_);
  Tell(done_);
}

void FrameView::NoteLineError(const QString& marker) {
  splitter_.AddMarker(marker.toStdString(), FrameClock::now(), done_);
  Tell(done_);
}

QString FrameView::LowLatencyRefusedLine(const QString& device, const QDateTime& at) {
  return at.toString(QStringLiteral("HH:mm:ss.zzz")) +
         QStringLiteral(" Драйвер порта %1 отказал в малой задержке приема: адаптер может "
                        "задерживать принятые байты, времена и границы кадров неточны")
             .arg(device);
}

void FrameView::NoteLowLatencyRefused(const QString& device) {
  const QDateTime now = QDateTime::currentDateTime();
  emit FrameLine(LowLatencyRefusedLine(device, now), now);
}

void FrameView::Finish() {
  splitter_.Finish(done_);
  Tell(done_);
}

void FrameView::Tell(std::vector<Frame>& done) {
  // Taken out first: a receiver of a line may hand the view more.
  std::vector<Frame> frames;
  frames.swap(done);
  if (linesWanted_) {
    for (const Frame& frame : frames) {
      const QDateTime time = WallTime(frame.first);
      emit FrameLine(FormatLine(frame, time), time);
    }
  }
  ArmExpiry();
}

void FrameView::ArmExpiry() {
  const auto deadline = splitter_.Deadline();
  if (!deadline) {
    expiry_.stop();
    return;
  }
  // Just past the deadline: a frame ends only once the silence is longer than the gap.
  const auto wait = std::chrono::ceil<milliseconds>(*deadline - FrameClock::now()) + milliseconds(1);
  expiry_.start(std::max(milliseconds(0), wait));
}

void FrameView::OnExpiry() {
  splitter_.Expire(FrameClock::now(), done_);
  Tell(done_);
}

}  // namespace velmora::console
