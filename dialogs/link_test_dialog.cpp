#include "dialogs/link_test_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/link_test_plot.h"

namespace velmora::dialogs {

namespace {

using console::BurstOutcome;
using console::LinkPattern;
using Clock = std::chrono::steady_clock;

double Milliseconds(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::milli>(d).count(); }

QString OutcomeWord(BurstOutcome outcome) {
  switch (outcome) {
    case BurstOutcome::Whole: return QStringLiteral("цела");
    case BurstOutcome::Damaged: return QStringLiteral("искажена");
    case BurstOutcome::Lost: return QStringLiteral("потеряна");
    case BurstOutcome::NotSent: return QStringLiteral("не отправлена");
  }
  return {};
}

QString Rate(double r) { return QString::number(r, 'e', 2); }
QString Percent(double r) { return QString::number(100 * r, 'f', 1); }

QSpinBox* MakeSpin(const char* name, int least, int most, int value, const QString& suffix = {}) {
  auto* spin = new QSpinBox;
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(least, most);
  spin->setValue(value);
  spin->setSuffix(suffix);
  return spin;
}

QPushButton* MakeButton(const char* name, const QString& caption) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

LinkTestDialog::LinkTestDialog(Line line, const console::LinkTestPlan& plan, QWidget* owner)
    : QDialog(owner), line_(std::move(line)) {
  setObjectName(QStringLiteral("LinkTestDialog"));
  setWindowTitle(QStringLiteral("Проверка канала"));

  pattern_ = new QComboBox;
  pattern_->setObjectName(QStringLiteral("LinkTestPattern"));
  pattern_->addItem(QStringLiteral("ПСП-9 (PRBS-9)"), static_cast<int>(LinkPattern::Prbs9));
  pattern_->addItem(QStringLiteral("Сохраненный кадр строки передачи"), static_cast<int>(LinkPattern::StoredFrame));
  pattern_->addItem(QStringLiteral("Случайные байты"), static_cast<int>(LinkPattern::RandomBytes));
  pattern_->setCurrentIndex(pattern_->findData(static_cast<int>(plan.pattern)));
  burstLength_ = MakeSpin("LinkTestBurstLength", 1, 4096, static_cast<int>(plan.burstLength));
  byCount_ = new QRadioButton(QStringLiteral("&Количество пачек:"));
  byCount_->setObjectName(QStringLiteral("LinkTestByCount"));
  burstCount_ = MakeSpin("LinkTestBurstCount", 1, 1000000, plan.burstCount > 0 ? static_cast<int>(plan.burstCount) : 100);
  byDuration_ = new QRadioButton(QStringLiteral("Д&лительность:"));
  byDuration_->setObjectName(QStringLiteral("LinkTestByDuration"));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(plan.duration).count();
  durationSeconds_ = MakeSpin("LinkTestDuration", 1, 86400, seconds > 0 ? static_cast<int>(seconds) : 60, QStringLiteral(" с"));
  (plan.burstCount > 0 ? byCount_ : byDuration_)->setChecked(true);
  pauseMs_ = MakeSpin("LinkTestPause", 0, 600000,
                      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(plan.pause).count()),
                      QStringLiteral(" мс"));
  timeoutMs_ = MakeSpin("LinkTestTimeout", 10, 600000,
                        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(plan.timeout).count()),
                        QStringLiteral(" мс"));

  auto* setup = new QGroupBox(QStringLiteral("Параметры"));
  auto* form = new QFormLayout(setup);
  const auto addRow = [form](const QString& caption, QWidget* field) {
    auto* label = new QLabel(caption);
    label->setBuddy(field);
    form->addRow(label, field);
  };
  addRow(QStringLiteral("&Образец:"), pattern_);
  addRow(QStringLiteral("&Длина пачки, байт:"), burstLength_);
  form->addRow(byCount_, burstCount_);
  form->addRow(byDuration_, durationSeconds_);
  addRow(QStringLiteral("Па&уза между пачками:"), pauseMs_);
  addRow(QStringLiteral("&Тайм-аут пачки:"), timeoutMs_);

  figures_ = new QLabel;
  figures_->setObjectName(QStringLiteral("LinkTestFigures"));
  figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  figures_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  figures_->setMinimumHeight(figures_->fontMetrics().lineSpacing() * 6);
  plot_ = new LinkTestPlot;
  plot_->setObjectName(QStringLiteral("LinkTestPlot"));
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("LinkTestStatus"));
  status_->setWordWrap(true);

  startButton_ = MakeButton("LinkTestStart", QStringLiteral("&Начать"));
  stopButton_ = MakeButton("LinkTestStop", QStringLiteral("&Стоп"));
  saveButton_ = MakeButton("LinkTestSave", QStringLiteral("Со&хранить..."));
  closeButton_ = MakeButton("LinkTestClose", QStringLiteral("&Закрыть"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(saveButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(setup);
  layout->addWidget(figures_);
  layout->addWidget(plot_, 1);
  layout->addWidget(status_);
  layout->addLayout(buttons);

  stepTimer_ = new QTimer(this);
  stepTimer_->setSingleShot(true);
  stepTimer_->setTimerType(Qt::PreciseTimer);
  connect(stepTimer_, &QTimer::timeout, this, &LinkTestDialog::Step);
  connect(startButton_, &QPushButton::clicked, this, &LinkTestDialog::StartRun);
  connect(stopButton_, &QPushButton::clicked, this, &LinkTestDialog::StopRun);
  connect(saveButton_, &QPushButton::clicked, this, &LinkTestDialog::SaveResults);
  connect(closeButton_, &QPushButton::clicked, this, &LinkTestDialog::reject);
  chooseCsvPath_ = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранение результатов проверки канала"), QString(),
                                        QStringLiteral("Таблицы CSV (*.csv);;Все файлы (*)"));
  };
  ShowFigures();
  UpdateControls();
}

LinkTestDialog::~LinkTestDialog() = default;

console::LinkTestPlan LinkTestDialog::Plan() const {
  console::LinkTestPlan plan;
  plan.pattern = static_cast<LinkPattern>(pattern_->currentData().toInt());
  plan.burstLength = static_cast<size_t>(burstLength_->value());
  plan.burstCount = byCount_->isChecked() ? static_cast<size_t>(burstCount_->value()) : 0;
  plan.duration = std::chrono::seconds(durationSeconds_->value());
  plan.pause = std::chrono::milliseconds(pauseMs_->value());
  plan.timeout = std::chrono::milliseconds(timeoutMs_->value());
  return plan;
}

bool LinkTestDialog::Running() const { return run_ && run_->Running(); }

void LinkTestDialog::StartRun() {
  if (Running()) return;
  console::LinkTestPlan plan = Plan();
  if (plan.pattern == LinkPattern::StoredFrame) {
    const std::optional<std::string> frame = line_.storedFrame ? line_.storedFrame() : std::nullopt;
    if (!frame || frame->empty()) {
      status_->setText(QStringLiteral("Нет сохраненного кадра строки передачи: выберите другой образец."));
      return;
    }
    plan.storedFrame = *frame;
  }
  const size_t length = plan.pattern == LinkPattern::StoredFrame ? plan.storedFrame.size() : plan.burstLength;
  if (line_.sendLimit) plan.sendLimit = line_.sendLimit(length);
  plan.seed = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
  run_ = std::make_unique<console::LinkTest>(
      plan, console::LinkTest::Callbacks{[this](const std::string& b) { line_.sendBurst(b); },
                                         [this] { line_.abandonBurst(); }});
  ended_ = false;
  shownBursts_ = 0;
  status_->setText(QStringLiteral("Идет проверка канала. Esc или «Стоп» — остановить."));
  // The line hands bytes and errors here from now on, before the first burst goes out.
  emit RunningChanged(true);
  run_->Start(Clock::now());
  UpdateControls();
  AfterEvent();
}

void LinkTestDialog::StopRun() {
  if (!Running()) return;
  run_->Stop(Clock::now());
  AfterEvent();
}

void LinkTestDialog::StopRunBecause(const QString& reason) {
  if (!Running()) return;
  StopRun();
  status_->setText(QStringLiteral("Проверка остановлена: %1").arg(reason));
}

void LinkTestDialog::OnBurstEnded() {
  if (!Running()) return;
  run_->OnBurstEnded(Clock::now());
  AfterEvent();
}

void LinkTestDialog::OnReceived(const std::string& bytes) {
  if (!run_) return;
  run_->OnReceived(bytes, Clock::now());
  AfterEvent();
}

void LinkTestDialog::OnLineErrors(bool withBreak) {
  if (!run_) return;
  run_->OnLineErrors(1, withBreak);
  AfterEvent();
}

void LinkTestDialog::Step() {
  if (!Running()) return;
  run_->OnTime(Clock::now());
  AfterEvent();
}

void LinkTestDialog::AfterEvent() {
  if (run_ && run_->Bursts().size() != shownBursts_) {
    shownBursts_ = run_->Bursts().size();
    plot_->SetBursts(run_->Bursts());
  }
  ShowFigures();
  if (run_ && !run_->Running() && !ended_) {
    EndRun();
    return;
  }
  ArmTimer();
}

void LinkTestDialog::ArmTimer() {
  const std::optional<Clock::time_point> due = run_ ? run_->NextDeadline() : std::nullopt;
  if (!due) {
    stepTimer_->stop();
    return;
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
  stepTimer_->start(std::max(wait, std::chrono::milliseconds::zero()));
}

void LinkTestDialog::EndRun() {
  ended_ = true;
  stepTimer_->stop();
  status_->setText(run_->Summary().stopped ? QStringLiteral("Проверка остановлена.")
                                           : QStringLiteral("Проверка закончена."));
  UpdateControls();
  emit RunningChanged(false);
  emit RunEnded(SummaryText());
}

void LinkTestDialog::UpdateControls() {
  const bool running = Running();
  for (QWidget* field : std::initializer_list<QWidget*>{pattern_, burstLength_, byCount_, burstCount_, byDuration_,
                                                         durationSeconds_, pauseMs_, timeoutMs_, startButton_})
    field->setEnabled(!running);
  stopButton_->setEnabled(running);
  saveButton_->setEnabled(!running && run_ && !run_->Bursts().empty());
  (running ? stopButton_ : startButton_)->setFocus();
}

QString LinkTestDialog::SummaryText() const {
  if (!run_) return {};
  const console::LinkTestSummary s = run_->Summary();
  QStringList lines;
  lines << QStringLiteral("Пачек отправлено: %1; вернулись целыми: %2, искажены: %3, потеряны: %4; не отправлены: %5")
               .arg(s.sent)
               .arg(s.whole)
               .arg(s.damaged)
               .arg(s.lost)
               .arg(s.notSent);
  lines << QStringLiteral("Байт с ошибками: %1 из %2; бит с ошибками: %3 из %4")
               .arg(s.bytesInError)
               .arg(s.bytesCompared)
               .arg(s.bitsInError)
               .arg(s.bitsCompared);
  lines << QStringLiteral("Частота ошибок на бит: %1 (95 %: %2 … %3)")
               .arg(Rate(s.bitErrorRate.rate), Rate(s.bitErrorRate.lower), Rate(s.bitErrorRate.upper));
  lines << QStringLiteral("Потеряно пачек: %1 % (95 %: %2 … %3 %)")
               .arg(Percent(s.lossRate.rate), Percent(s.lossRate.lower), Percent(s.lossRate.upper));
  if (s.roundTrip.count > 0)
    lines << QStringLiteral("Время оборота, мс: наименьшее %1, медиана %2, 95 %: %3, наибольшее %4")
                 .arg(Milliseconds(s.roundTrip.least), 0, 'f', 1)
                 .arg(Milliseconds(s.roundTrip.median), 0, 'f', 1)
                 .arg(Milliseconds(s.roundTrip.percentile95), 0, 'f', 1)
                 .arg(Milliseconds(s.roundTrip.worst), 0, 'f', 1);
  else
    lines << QStringLiteral("Время оборота: не измерено");
  lines << QStringLiteral("Ошибок линии: %1, из них разрывов (BREAK): %2; посторонних байт: %3")
               .arg(s.lineErrors)
               .arg(s.breaks)
               .arg(s.strayBytes);
  return lines.join(u'\n');
}

void LinkTestDialog::ShowFigures() {
  figures_->setText(run_ ? SummaryText() : QStringLiteral("Проверка еще не проводилась."));
}

QString LinkTestDialog::SaveCsv(const QString& path) const {
  if (!run_) return QStringLiteral("Нет результатов для записи.");
  QStringList rows;
  rows << QStringLiteral(
      "пачка,отправлена через (мс),итог,время оборота (мс),байт,байт с ошибками,бит с ошибками,ошибок линии,разрывов");
  for (const console::BurstRecord& b : run_->Bursts())
    rows << QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9")
                .arg(b.number)
                .arg(Milliseconds(b.sentAt), 0, 'f', 3)
                .arg(OutcomeWord(b.outcome), b.roundTrip ? QString::number(Milliseconds(*b.roundTrip), 'f', 3) : QString())
                .arg(b.bytes)
                .arg(b.bytesInError)
                .arg(b.bitsInError)
                .arg(b.lineErrors)
                .arg(b.breaks);
  const console::LinkTestSummary s = run_->Summary();
  rows << QString() << QStringLiteral("итог,значение");
  const auto row = [&rows](const char* name, const QString& value) { rows << QString::fromUtf8(name) + u',' + value; };
  row("пачек отправлено", QString::number(s.sent));
  row("вернулись целыми", QString::number(s.whole));
  row("искажены", QString::number(s.damaged));
  row("потеряны", QString::number(s.lost));
  row("не отправлены", QString::number(s.notSent));
  row("байт сравнено", QString::number(s.bytesCompared));
  row("байт с ошибками", QString::number(s.bytesInError));
  row("бит сравнено", QString::number(s.bitsCompared));
  row("бит с ошибками", QString::number(s.bitsInError));
  row("частота ошибок на бит", Rate(s.bitErrorRate.rate));
  row("частота ошибок на бит, нижняя граница 95 %", Rate(s.bitErrorRate.lower));
  row("частота ошибок на бит, верхняя граница 95 %", Rate(s.bitErrorRate.upper));
  row("доля потерянных пачек", QString::number(s.lossRate.rate, 'f', 4));
  row("доля потерянных пачек, нижняя граница 95 %", QString::number(s.lossRate.lower, 'f', 4));
  row("доля потерянных пачек, верхняя граница 95 %", QString::number(s.lossRate.upper, 'f', 4));
  if (s.roundTrip.count > 0) {
    row("время оборота наименьшее (мс)", QString::number(Milliseconds(s.roundTrip.least), 'f', 3));
    row("время оборота медиана (мс)", QString::number(Milliseconds(s.roundTrip.median), 'f', 3));
    row("время оборота 95 % (мс)", QString::number(Milliseconds(s.roundTrip.percentile95), 'f', 3));
    row("время оборота наибольшее (мс)", QString::number(Milliseconds(s.roundTrip.worst), 'f', 3));
  }
  row("ошибок линии", QString::number(s.lineErrors));
  row("разрывов", QString::number(s.breaks));
  row("посторонних байт", QString::number(s.strayBytes));
  row("остановлена оператором", s.stopped ? QStringLiteral("да") : QStringLiteral("нет"));

  QSaveFile file(path);
  const QByteArray content = (rows.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
    return QStringLiteral("Не удалось записать файл %1: %2").arg(path, file.errorString());
  return {};
}

void LinkTestDialog::SaveResults() {
  const QString path = chooseCsvPath_ ? chooseCsvPath_() : QString();
  if (path.isEmpty()) return;
  const QString error = SaveCsv(path);
  status_->setText(error.isEmpty() ? QStringLiteral("Результаты записаны в файл %1").arg(path) : error);
}

void LinkTestDialog::keyPressEvent(QKeyEvent* event) {
  // Esc ends a run at once and leaves the dialog open on its results; with no run it closes.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && Running()) {
    StopRun();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void LinkTestDialog::reject() {
  // Closed by any other way (the title bar, a stop of the program): no run outlives the dialog.
  StopRun();
  QDialog::reject();
}

}  // namespace velmora::dialogs
