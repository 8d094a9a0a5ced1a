#include "console/status_panels.h"

#include <QLabel>

namespace velmora::console {

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(true);
  for (int i = 0; i < kPanelCount; ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
    label->setFixedWidth(kWidths[static_cast<size_t>(i)]);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setContentsMargins(2, 0, 2, 0);
    addWidget(label);
    panels_[static_cast<size_t>(i)] = label;
  }
}

QString StatusPanels::PanelText(int panel) const { return Panel(panel)->text(); }

void StatusPanels::SetPanelText(int panel, const QString& text) { Panel(panel)->setText(text); }

}  // namespace velmora::console
