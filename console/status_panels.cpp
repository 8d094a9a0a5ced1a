#include "console/status_panels.h"

#include <QLabel>

namespace velmora::console {

namespace {

constexpr int kRefreshIntervalMs = 15;  // about one display frame

}  // namespace

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(true);
  for (int i = 0; i < kPanelCount; ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
    // At least the panel's width; wider when its text needs it, so nothing is cut off in a
    // font larger than the one the widths were chosen for.
    label->setMinimumWidth(kWidths[static_cast<size_t>(i)]);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setContentsMargins(2, 0, 2, 0);
    addWidget(label);
    labels_[static_cast<size_t>(i)] = label;
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
  for (size_t i = 0; i < labels_.size(); ++i) {
    QLabel* label = labels_[i];
    if (label->text() == texts_[i]) continue;
    label->setText(texts_[i]);
    // A text longer than the panel widens it rather than being cut off.
    const int needed = label->fontMetrics().horizontalAdvance(texts_[i]) +
                       label->contentsMargins().left() + label->contentsMargins().right() +
                       2 * label->frameWidth() + 2;
    label->setMinimumWidth(std::max(kWidths[i], needed));
  }
}

}  // namespace velmora::console
