#pragma once
// The link test's small plot: one column per burst, left to right — the round trip as a bar
// scaled to the run's longest, a burst that came back damaged marked red below its bar, a lost
// one as a red cross along the top, one never sent as a grey cross. Paints what it was last
// given; user-interface thread only.

#include <vector>

#include <QWidget>

#include "console/link_test.h"

namespace velmora::dialogs {

class LinkTestPlot : public QWidget {
  Q_OBJECT

 public:
  explicit LinkTestPlot(QWidget* parent = nullptr);
  void SetBursts(const std::vector<console::BurstRecord>& bursts);
  const std::vector<console::BurstRecord>& Bursts() const { return bursts_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<console::BurstRecord> bursts_;
};

}  // namespace velmora::dialogs
