#include "console/status_panels.h"

#include <algorithm>

#include <QLabel>
#include <QResizeEvent>

namespace velmora::console {

namespace {

// Ten times a second: the counters change at every received chunk, and a number that changes
// faster cannot be read anyway, while each refresh lays out and repaints the panels it changes.
constexpr int kRefreshIntervalMs = 100;
// The least the port summary shrinks to when the window is made narrow.
constexpr int kSummaryMinimumWidth = 60;

// The longest text each panel is given, so that its width holds it in any font.
const std::array<QString, StatusPanels::kPanelCount> kLongestTexts = {
    QStringLiteral("COM1, 115200, 8, 1, None, None"),  // a usual one; longer ones are cut short
    QStringLiteral("ВОССТАНОВЛЕН"),  // the longest state word
    QStringLiteral("Rx: -2147483648"),
    QStringLiteral("Tx: -2147483648"),
    QStringLiteral("RTS"),
    QStringLiteral("CTS"),
    QStringLiteral("DSR"),
    QStringLiteral("100%"),
};

// The port summary's fields after the port name: baud rate, data bits, stop bits, parity, flow
// control.
constexpr int kLineSettingFields = 5;

// Where the text's last `fields` comma-separated fields begin (at their ", "), or -1.
qsizetype TailStart(const QString& text, int fields) {
  qsizetype at = text.size();
  for (int i = 0; i < fields; ++i) {
    at = text.lastIndexOf(QStringLiteral(", "), at - 1);
    if (at <= 0) return -1;
  }
  return at;
}

// A panel whose size does not follow its text: it cuts a longer text short with "…" and shows
// it whole as its tooltip. With `keptFields`, the text's last fields are kept whole and its
// head is cut in the middle instead: a long port path loses its middle, never the line
// settings after it.
class PanelLabel final : public QLabel {
 public:
  PanelLabel(int width, int minimumWidth, int keptFields, QWidget* parent)
      : QLabel(parent), width_(width), minimumWidth_(minimumWidth), keptFields_(keptFields) {
    setMinimumWidth(minimumWidth_);
  }

  void SetWholeText(const QString& text) {
    // Eliding lays the text out: a panel whose text stayed is left alone.
    if (text == whole_) return;
    whole_ = text;
    ShowFitting();
  }

  QSize sizeHint() const override { return {width_, QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override {
    return {minimumWidth_, QLabel::minimumSizeHint().height()};
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    ShowFitting();
  }

 private:
  void ShowFitting() {
    const QString shown = Fitting(std::max(0, contentsRect().width()));
    if (text() != shown) setText(shown);
    setToolTip(shown == whole_ ? QString() : whole_);
  }

  QString Fitting(int width) const {
    const QFontMetrics metrics = fontMetrics();
    if (metrics.horizontalAdvance(whole_) <= width) return whole_;
    const qsizetype tailStart = keptFields_ > 0 ? TailStart(whole_, keptFields_) : -1;
    if (tailStart > 0) {
      const QString tail = whole_.mid(tailStart);
      // The head is measured on its own; a pixel spare for what joining the two may add.
      const int headWidth = width - metrics.horizontalAdvance(tail) - 1;
      const QString ellipsis(QChar(0x2026));
      if (headWidth >= metrics.horizontalAdvance(whole_.left(1) + ellipsis))
        return metrics.elidedText(whole_.left(tailStart), Qt::ElideMiddle, headWidth) + tail;
      // No room for any of the port name: the settings come first.
      return metrics.elidedText(ellipsis + tail, Qt::ElideRight, width);
    }
    return metrics.elidedText(whole_, Qt::ElideRight, width);
  }

  int width_;
  int minimumWidth_;
  int keptFields_;
  QString whole_;
};

}  // namespace

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(true);
  for (size_t i = 0; i < labels_.size(); ++i) {
    const bool summary = i == Index(StatusPanel::PortSummary);
    // Measured with the bar's font, which the labels inherit.
    const int margins = 2 * 2 + 2 * 2 + 2;  // contents margins, frame, slack
    const int width =
        std::max(kWidths[i], fontMetrics().horizontalAdvance(kLongestTexts[i]) + margins);
    auto* label = new PanelLabel(width, summary ? kSummaryMinimumWidth : width,
                                 summary ? kLineSettingFields : 0, this);
    label->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setContentsMargins(2, 0, 2, 0);
    addWidget(label, summary ? 1 : 0);
    labels_[i] = label;
  }
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRefreshIntervalMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &StatusPanels::Refresh);
}

void StatusPanels::SetPanelText(StatusPanel panel, const QString& text) {
  QString& current = texts_.at(Index(panel));
  if (current == text) return;
  current = text;
  if (!refreshTimer_.isActive()) refreshTimer_.start();
}

void StatusPanels::Refresh() {
  refreshTimer_.stop();
  for (size_t i = 0; i < labels_.size(); ++i)
    static_cast<PanelLabel*>(labels_[i])->SetWholeText(texts_[i]);
}

}  // namespace velmora::console
