#include "console/send_line.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace velmora::console {

SendLine::SendLine(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 0, 4, 3);
  column->setSpacing(2);
  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  column->addLayout(row);

  auto* caption = new QLabel(QStringLiteral("&Строка"), this);
  caption->setMinimumWidth(64);
  entry_ = new QLineEdit(this);
  entry_->setObjectName(QStringLiteral("SendLineEdit"));
  entry_->setToolTip(QStringLiteral("Текст с \\r \\n \\t \\\\ \\xNN или байты в hex; Enter — передать, "
                                    "↑/↓ — прежние строки, Esc — в окно передачи"));
  caption->setBuddy(entry_);
  modeBox_ = new QComboBox(this);
  modeBox_->setObjectName(QStringLiteral("SendLineMode"));
  modeBox_->addItems(SendModeCaptions());
  modeBox_->setToolTip(QStringLiteral("Как читать строку"));
  checkBox_ = new QComboBox(this);
  checkBox_->setObjectName(QStringLiteral("SendLineCheck"));
  checkBox_->addItems(CheckKindCaptions());
  checkBox_->setToolTip(QStringLiteral("Контрольная сумма в конце кадра"));
  row->addWidget(caption);
  row->addWidget(entry_, 1);
  row->addWidget(modeBox_);
  row->addWidget(checkBox_);

  errorLabel_ = new QLabel(this);
  errorLabel_->setObjectName(QStringLiteral("SendLineError"));
  errorLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
  errorLabel_->setWordWrap(true);
  errorLabel_->hide();
  column->addWidget(errorLabel_);

  entry_->installEventFilter(this);
  connect(entry_, &QLineEdit::returnPressed, this, &SendLine::SubmitLine);
  // A line changed after its error was shown is a new line: the old reason no longer applies.
  connect(entry_, &QLineEdit::textEdited, this, [this] { ShowError({}); });
  for (QComboBox* box : {modeBox_, checkBox_})
    connect(box, &QComboBox::activated, this, [this] {
      ShowError({});
      emit ChoiceChanged();
    });
}

SendMode SendLine::Mode() const { return static_cast<SendMode>(modeBox_->currentIndex()); }
void SendLine::SetMode(SendMode mode) { modeBox_->setCurrentIndex(static_cast<int>(mode)); }
CheckKind SendLine::Check() const { return static_cast<CheckKind>(checkBox_->currentIndex()); }
void SendLine::SetCheck(CheckKind check) { checkBox_->setCurrentIndex(static_cast<int>(check)); }
QString SendLine::ErrorText() const { return errorLabel_->isHidden() ? QString() : errorLabel_->text(); }

void SendLine::SetHistory(QStringList lines) {
  if (lines.size() > kHistoryLength) lines = lines.mid(lines.size() - kHistoryLength);
  history_ = std::move(lines);
  recallIndex_ = history_.size();
}

void SendLine::SubmitLine() {
  const QString line = entry_->text();
  const ParsedLine parsed = ParseFrame(line, Mode(), Check());
  if (!parsed.Ok()) {
    ShowError(parsed.error);
    return;
  }
  ShowError({});
  if (line.isEmpty()) return;
  // The same line sent again and again is one line to recall.
  if (history_.isEmpty() || history_.back() != line) {
    history_.append(line);
    if (history_.size() > kHistoryLength) history_.removeFirst();
  }
  recallIndex_ = history_.size();
  if (!parsed.bytes.empty()) emit SendRequested(parsed.bytes);
}

bool SendLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == entry_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    switch (key->key()) {
      case Qt::Key_Up:
        Recall(-1);
        return true;
      case Qt::Key_Down:
        Recall(+1);
        return true;
      case Qt::Key_Escape:
        emit LeaveRequested();
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void SendLine::Recall(int step) {
  const qsizetype target = recallIndex_ + step;
  if (target < 0 || target > history_.size()) return;
  if (recallIndex_ == history_.size()) draft_ = entry_->text();
  recallIndex_ = target;
  entry_->setText(recallIndex_ == history_.size() ? draft_ : history_[recallIndex_]);
  ShowError({});
}

void SendLine::ShowError(const QString& text) {
  errorLabel_->setText(text);
  errorLabel_->setVisible(!text.isEmpty());
}

}  // namespace velmora::console
