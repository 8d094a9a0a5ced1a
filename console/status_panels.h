#pragma once
// SB1, the main window's status bar: eight text panels of fixed width, left to right — port
// summary, state word, received count, transmitted count, RTS, CTS, DSR, file-send progress.
// User-interface thread only.

#include <array>

#include <QStatusBar>

class QLabel;

namespace velmora::console {

class StatusPanels : public QStatusBar {
  Q_OBJECT

 public:
  static constexpr int kPanelCount = 8;
  static constexpr std::array<int, kPanelCount> kWidths = {150, 100, 100, 100, 40, 40, 50, 50};

  explicit StatusPanels(QWidget* parent = nullptr);

  QString PanelText(int panel) const;
  void SetPanelText(int panel, const QString& text);
  QLabel* Panel(int panel) const { return panels_.at(static_cast<size_t>(panel)); }

 private:
  std::array<QLabel*, kPanelCount> panels_{};
};

}  // namespace velmora::console
