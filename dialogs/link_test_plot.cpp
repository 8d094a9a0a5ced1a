#include "dialogs/link_test_plot.h"

#include <algorithm>
#include <chrono>

#include <QPainter>
#include <QPalette>

namespace velmora::dialogs {

namespace {

constexpr int kMargin = 4;
constexpr int kCaptionHeight = 16;
constexpr int kErrorBand = 10;  // below the bars: the damaged bursts' marks

double Milliseconds(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

LinkTestPlot::LinkTestPlot(QWidget* parent) : QWidget(parent) {
  setMinimumSize(320, 110);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName(QStringLiteral("График времени оборота и ошибок по пачкам"));
}

void LinkTestPlot::SetBursts(const std::vector<console::BurstRecord>& bursts) {
  bursts_ = bursts;
  update();
}

void LinkTestPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));

  double longest = 0;
  for (const console::BurstRecord& b : bursts_)
    if (b.roundTrip) longest = std::max(longest, Milliseconds(*b.roundTrip));
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(QRect(kMargin, 0, width() - 2 * kMargin, kCaptionHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   longest > 0 ? QStringLiteral("Время оборота, мс (наибольшее %1)").arg(longest, 0, 'f', 1)
                               : QStringLiteral("Время оборота, мс"));
  if (bursts_.empty()) return;

  const QRect area(kMargin, kCaptionHeight, width() - 2 * kMargin, height() - kCaptionHeight - kErrorBand - kMargin);
  const double column = static_cast<double>(area.width()) / static_cast<double>(bursts_.size());
  const int barWidth = std::max(1, static_cast<int>(column) - 1);
  const QColor bar = palette().color(QPalette::Highlight);
  const QColor fault(Qt::red), notSent(Qt::gray);
  for (size_t i = 0; i < bursts_.size(); ++i) {
    const console::BurstRecord& b = bursts_[i];
    const int x = area.left() + static_cast<int>(column * static_cast<double>(i));
    const int centre = x + barWidth / 2;
    if (b.roundTrip && longest > 0) {
      const int h = std::max(1, static_cast<int>(area.height() * Milliseconds(*b.roundTrip) / longest));
      painter.fillRect(x, area.bottom() - h + 1, barWidth, h, bar);
    }
    switch (b.outcome) {
      case console::BurstOutcome::Damaged:
        painter.fillRect(x, area.bottom() + 3, barWidth, kErrorBand - 4, fault);
        break;
      case console::BurstOutcome::Lost:
      case console::BurstOutcome::NotSent:
        painter.setPen(QPen(b.outcome == console::BurstOutcome::Lost ? fault : notSent, 1.5));
        painter.drawLine(centre - 3, area.top() + 1, centre + 3, area.top() + 7);
        painter.drawLine(centre - 3, area.top() + 7, centre + 3, area.top() + 1);
        break;
      case console::BurstOutcome::Whole:
        break;
    }
  }
}

}  // namespace velmora::dialogs
