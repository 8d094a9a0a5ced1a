#pragma once
// The main window's status bar (object name SB1): eight text panels, left to right — port
// summary, state word, received count, transmitted count, RTS, CTS, DSR, file-send progress.
//
// The panels' widths are fixed when the bar is made, from the design widths and the longest text
// each panel is given in the bar's font (for the port summary: a usual one, "COM1, 115200, …");
// no text ever changes them, so the window's size and place never move after it is shown. The
// port summary takes the width that is left and may shrink: a summary longer than its panel (a
// /dev/serial/by-id/... port name) loses the middle of its port name to "…", keeping the line
// settings after it (the last five fields) readable, and is shown whole as its tooltip; when
// not even those fit beside a letter of the name, the name is "…" and the settings are cut at
// their end.
//
// A panel's text changes at once (PanelText reads it back); the labels on screen take the new
// texts at most ten times a second, because the counters change at every received chunk and
// repainting the bar for each would cost more than the chunk itself. User-interface thread only.

#include <array>

#include <QStatusBar>
#include <QString>
#include <QTimer>

class QLabel;

namespace velmora::console {

// The panels in their order on the bar.
enum class StatusPanel { PortSummary, State, Rx, Tx, Rts, Cts, Dsr, Progress };

class StatusPanels : public QStatusBar {
  Q_OBJECT

 public:
  static constexpr int kPanelCount = 8;
  static constexpr std::array<int, kPanelCount> kWidths = {150, 100, 100, 100, 40, 40, 50, 50};

  explicit StatusPanels(QWidget* parent = nullptr);

  QString PanelText(StatusPanel panel) const { return texts_.at(Index(panel)); }
  void SetPanelText(StatusPanel panel, const QString& text);
  QLabel* Panel(StatusPanel panel) const { return labels_.at(Index(panel)); }
  static int Width(StatusPanel panel) { return kWidths.at(Index(panel)); }
  // Puts the texts on the labels now.
  void Refresh();

 private:
  static size_t Index(StatusPanel panel) { return static_cast<size_t>(panel); }

  std::array<QLabel*, kPanelCount> labels_{};
  std::array<QString, kPanelCount> texts_{};
  QTimer refreshTimer_;
};

}  // namespace velmora::console
