#pragma once
// The dialog "Проверка канала": the operator sets up a link test (pattern, burst length, number
// of bursts or a duration, pause, time-out per burst), starts and stops it, watches the figures
// and a small plot while it runs, and saves the results as CSV (one row per burst, then the
// summary).
//
// The dialog knows no window and no port: it sends and abandons bursts through the `Line` it
// is given, and whoever owns the line hands it the end of each burst (RTS dropped), the bytes
// received and the line errors while a run is under way (`RunningChanged` says when). Esc and the
// Stop button end a run at once and leave its results shown; Esc with no run, the Close button
// and any other close end the run and close the dialog. A run's
// summary text goes out by `RunEnded` when it ends, for a session log.
//
// User-interface thread only. Writing the CSV reports its failure in the dialog (the file and the
// reason); nothing else fails of its own. The operator's choices live as long as the program, in
// the plan the owner passes in and takes back (`Plan()`); nothing is stored in the settings file.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QDialog>

#include "console/link_test.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace velmora::dialogs {

class LinkTestPlot;

class LinkTestDialog : public QDialog {
  Q_OBJECT

 public:
  struct Line {
    std::function<void(const std::string&)> sendBurst;
    std::function<void()> abandonBurst;
    // The longest a burst of this many bytes may take from being handed over to its end.
    std::function<std::chrono::nanoseconds(size_t bytes)> sendLimit;
    // The send line's stored frame; none (or no function): that pattern is not offered.
    std::function<std::optional<std::string>()> storedFrame;
  };

  LinkTestDialog(Line line, const console::LinkTestPlan& plan, QWidget* owner);
  ~LinkTestDialog() override;

  // From the line while a run is under way.
  void OnBurstEnded();
  void OnReceived(const std::string& bytes);
  void OnLineErrors(bool withBreak);

  void StartRun();
  void StopRun();
  // Stops a run that cannot go on, and says why.
  void StopRunBecause(const QString& reason);
  bool Running() const;
  // The plan as the fields set it.
  console::LinkTestPlan Plan() const;
  // The last run (under way or over), if any.
  const console::LinkTest* Run() const { return run_.get(); }
  QString SummaryText() const;
  // The results to `path`; an empty text when written, else what went wrong (the file named).
  QString SaveCsv(const QString& path) const;
  // Asks the file name for "Сохранить..." (by default a save dialog); tests answer it.
  void SetCsvPathChooser(std::function<QString()> choose) { chooseCsvPath_ = std::move(choose); }

 signals:
  void RunningChanged(bool running);
  void RunEnded(const QString& summary);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void Step();
  void AfterEvent();
  void ArmTimer();
  void EndRun();
  void ShowFigures();
  void UpdateControls();
  void SaveResults();

  Line line_;
  std::unique_ptr<console::LinkTest> run_;
  bool ended_ = true;  // RunEnded and RunningChanged(false) sent for the last run
  size_t shownBursts_ = 0;
  std::function<QString()> chooseCsvPath_;

  QComboBox* pattern_ = nullptr;
  QSpinBox* burstLength_ = nullptr;
  QRadioButton* byCount_ = nullptr;
  QSpinBox* burstCount_ = nullptr;
  QRadioButton* byDuration_ = nullptr;
  QSpinBox* durationSeconds_ = nullptr;
  QSpinBox* pauseMs_ = nullptr;
  QSpinBox* timeoutMs_ = nullptr;
  QLabel* figures_ = nullptr;
  QLabel* status_ = nullptr;
  LinkTestPlot* plot_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QTimer* stepTimer_ = nullptr;
};

}  // namespace velmora::dialogs
