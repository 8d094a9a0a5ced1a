#include "console/frame_view.h"

#include <algorithm>
#include <limits>

#include "console/cp1251.h"
#include "console/receive_view.h"

namespace velmora::console {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// The columns of the bytes line up for frames of up to this many bytes; longer ones run on.
constexpr int kAlignedBytes = 8;

// How long past the silence that ends it a frame waits for its line when nothing else comes.
// Traffic that comes sooner ends it by its own time (as the next poll or answer does), so a busy
// line wakes the view once a pause instead of once a frame; the pane shows lines only at its
// next refresh (every 50 ms) anyway.
constexpr milliseconds kExpirySlack(50);

// Appends the bytes in hexadecimal, one blank apart, with the line conditions where they
// happened; the characters are written in place (a frame's line is made for every frame).
void AppendHexAndMarkers(QString& line, const Frame& frame) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const qsizetype start = line.size();
  auto marker = frame.markers.begin();
  const auto markersAt = [&](size_t position) {
    for (; marker != frame.markers.end() && marker->first <= position; ++marker) {
      if (line.size() > start) line += u' ';
      line += QString::fromLatin1(marker->second);
    }
  };
  for (size_t i = 0; i < frame.bytes.size();) {
    markersAt(i);
    // Up to the next marker the bytes go in one run.
    const size_t runEnd = marker == frame.markers.end() ? frame.bytes.size()
                                                        : std::min(frame.bytes.size(), marker->first);
    const qsizetype at = line.size();
    const bool first = at == start;
    line.resize(at + static_cast<qsizetype>(runEnd - i) * 3 - (first ? 1 : 0));
    QChar* out = line.data() + at;
    for (size_t k = i; k < runEnd; ++k) {
      if (k != i || !first) *out++ = u' ';
      const auto b = static_cast<uint8_t>(frame.bytes[k]);
      *out++ = QChar(kDigits[b >> 4]);
      *out++ = QChar(kDigits[b & 15]);
    }
    i = runEnd;
  }
  markersAt(frame.bytes.size());
}

// Fills with blanks up to `width` characters from `from`.
void PadFrom(QString& line, qsizetype from, qsizetype width) {
  if (line.size() - from < width) line.resize(from + width, u' ');
}

// "HH:mm:ss.zzz", as QDateTime::toString writes it, without its format parser and calendar.
QString TimeOfDay(QTime time) {
  const int parts[] = {time.hour(), time.minute(), time.second()};
  const char16_t after[] = {u':', u':', u'.'};
  QChar text[12];
  int at = 0;
  for (int i = 0; i < 3; ++i) {
    text[at++] = QChar(u'0' + parts[i] / 10);
    text[at++] = QChar(u'0' + parts[i] % 10);
    text[at++] = QChar(after[i]);
  }
  const int ms = time.msec();
  text[at++] = QChar(u'0' + ms / 100);
  text[at++] = QChar(u'0' + ms / 10 % 10);
  text[at++] = QChar(u'0' + ms % 10);
  return QString(text, at);
}

// Appends the bytes as Windows-1251 text with the receive pane's stand-ins.
void AppendText(QString& line, const std::string& bytes) {
  const qsizetype at = line.size();
  AppendDecodedCp1251(line, bytes);
  QChar* const end = line.data() + line.size();
  for (QChar* c = line.data() + at; c != end; ++c) *c = ReceiveTextView::Shown(*c);
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
  const qint64 ms = duration_cast<milliseconds>(wall.time_since_epoch()).count();
  // The zone's offset is asked of the system once a minute (zones change theirs only on whole
  // minutes): asking for every frame makes the C library look the zone's file up on disk each
  // time, which cost more than all else that makes a frame's line.
  struct Offset {
    qint64 minute = std::numeric_limits<qint64>::min();
    int seconds = 0;
  };
  thread_local Offset offset;
  const qint64 minute = ms >= 0 ? ms / 60000 : (ms - 59999) / 60000;
  if (minute != offset.minute) {
    offset.minute = minute;
    offset.seconds = QDateTime::fromMSecsSinceEpoch(minute * 60000).offsetFromUtc();
  }
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset.seconds);
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
  QString line = TimeOfDay(firstByte.time());
  line.reserve(static_cast<qsizetype>(64 + frame.bytes.size() * 4));
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
  const qsizetype hexFrom = line.size();
  AppendHexAndMarkers(line, frame);
  PadFrom(line, hexFrom, kAlignedBytes * 3 - 1);
  line += QStringLiteral("   ");
  const qsizetype textFrom = line.size();
  AppendText(line, frame.bytes);
  PadFrom(line, textFrom, kAlignedBytes);
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

void FrameView::SetLinesWanted(bool wanted) {
  if (wanted == linesWanted_) return;
  linesWanted_ = wanted;
  splitter_.Restart();
  done_.clear();
  expiry_.stop();
}

void FrameView::NoteReceived(std::string_view bytes, const std::vector<platform::ArrivalTime>& times) {
  if (!linesWanted_) return;
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
  if (!linesWanted_) return;
  UpdateGap();
  splitter_.Add(FrameDirection::Sent, bytes, FrameClock::now(), done_);
  Tell(done_);
}

void FrameView::NoteKeyed(bool on) {
  splitter_.SetKeyed(on, done_);
  Tell(done_);
}

void FrameView::NoteLineError(const QString& marker) {
  if (!linesWanted_) return;
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
  // Past the deadline: a frame ends only once the silence is longer than the gap.
  const auto wait = std::chrono::ceil<milliseconds>(*deadline - FrameClock::now()) + milliseconds(1) + kExpirySlack;
  expiry_.start(std::max(milliseconds(0), wait));
}

void FrameView::OnExpiry() {
  splitter_.Expire(FrameClock::now(), done_);
  Tell(done_);
}

}  // namespace velmora::console
