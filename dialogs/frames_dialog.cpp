#include "dialogs/frames_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "dialogs/dialog_font.h"
#include "dialogs/modal_run.h"

namespace velmora::dialogs {

using console::StoredFrame;
using console::StoredFrames;

FramesDialog::FramesDialog(const StoredFrames& frames, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FramesForm"));
  setWindowTitle(QStringLiteral("Кадры для передачи"));
  UseDialogFont(this);
  auto* column = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  column->addLayout(grid);
  const QStringList headers = {QStringLiteral("Клавиша"), QStringLiteral("Имя"), QStringLiteral("Режим"),
                               QStringLiteral("Контроль"), QStringLiteral("Повтор, мс"),
                               QStringLiteral("Строка")};
  for (int c = 0; c < headers.size(); ++c) grid->addWidget(new QLabel(headers[c], this), 0, c);

  for (int i = 0; i < console::kStoredFrameCount; ++i) {
    const QString number = QString::number(i + 1);
    const StoredFrame& frame = frames[static_cast<size_t>(i)];
    Row& row = rows_[static_cast<size_t>(i)];
    row.name = new QLineEdit(frame.name, this);
    row.name->setObjectName(QStringLiteral("FrameName") + number);
    row.name->setMaximumWidth(120);
    row.mode = new QComboBox(this);
    row.mode->setObjectName(QStringLiteral("FrameMode") + number);
    row.mode->addItems(console::SendModeCaptions());
    row.mode->setCurrentIndex(static_cast<int>(frame.mode));
    row.check = new QComboBox(this);
    row.check->setObjectName(QStringLiteral("FrameCheck") + number);
    row.check->addItems(console::CheckKindCaptions());
    row.check->setCurrentIndex(static_cast<int>(frame.check));
    row.period = new QSpinBox(this);
    row.period->setObjectName(QStringLiteral("FramePeriod") + number);
    row.period->setRange(0, console::kLongestPollPeriodMs);
    row.period->setSpecialValueText(QStringLiteral("однократно"));
    row.period->setValue(frame.periodMs);
    row.period->setToolTip(QStringLiteral("0 — один раз на нажатие; иначе кадр повторяется с этим "
                                          "периодом до Esc или повторного нажатия"));
    row.line = new QLineEdit(frame.line, this);
    row.line->setObjectName(QStringLiteral("FrameLine") + number);
    row.line->setMinimumWidth(180);
    grid->addWidget(new QLabel(QStringLiteral("F") + number, this), i + 1, 0);
    grid->addWidget(row.name, i + 1, 1);
    grid->addWidget(row.mode, i + 1, 2);
    grid->addWidget(row.check, i + 1, 3);
    grid->addWidget(row.period, i + 1, 4);
    grid->addWidget(row.line, i + 1, 5);
  }
  grid->setColumnStretch(5, 1);

  errorLabel_ = new QLabel(this);
  errorLabel_->setObjectName(QStringLiteral("FramesError"));
  errorLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
  errorLabel_->setWordWrap(true);
  errorLabel_->hide();
  column->addWidget(errorLabel_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  connect(buttons, &QDialogButtonBox::accepted, this, &FramesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FramesDialog::reject);
  column->addWidget(buttons);
}

StoredFrames FramesDialog::Frames() const {
  StoredFrames frames;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Row& row = rows_[i];
    StoredFrame& frame = frames[i];
    frame.name = row.name->text().trimmed();
    frame.mode = static_cast<console::SendMode>(row.mode->currentIndex());
    frame.check = static_cast<console::CheckKind>(row.check->currentIndex());
    frame.periodMs = row.period->value();
    frame.line = row.line->text();
    // Blanks around hex bytes mean nothing; around text they are characters.
    if (frame.mode == console::SendMode::kHex) frame.line = frame.line.trimmed();
    if (frame.Empty() && frame.name.isEmpty()) frame = {};
  }
  return frames;
}

QString FramesDialog::ErrorText() const { return errorLabel_->isHidden() ? QString() : errorLabel_->text(); }

void FramesDialog::accept() {
  const StoredFrames frames = Frames();
  for (size_t i = 0; i < frames.size(); ++i) {
    const StoredFrame& frame = frames[i];
    QString problem = console::StoredFrameProblem(frame);
    if (problem.isEmpty() && frame.Empty() && !frame.name.isEmpty())
      problem = QStringLiteral("у кадра «%1» нет строки").arg(frame.name);
    if (problem.isEmpty()) continue;
    errorLabel_->setText(QStringLiteral("F%1: %2").arg(i + 1).arg(problem));
    errorLabel_->show();
    rows_[i].line->setFocus(Qt::OtherFocusReason);
    return;
  }
  errorLabel_->hide();
  QDialog::accept();
}

bool ExecuteFramesDialog(StoredFrames& frames, QWidget* owner) {
  auto* dialog = new FramesDialog(frames, owner);
  StoredFrames edited;
  QObject::connect(dialog, &QDialog::accepted, dialog, [&] { edited = dialog->Frames(); });
  if (RunModal(dialog) != QDialog::Accepted) return false;
  frames = edited;
  return true;
}

}  // namespace velmora::dialogs
