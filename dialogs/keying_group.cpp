#include "dialogs/keying_group.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

namespace velmora::dialogs {

namespace {
// The time-out the dialog suggests: what radios' own time-out timers commonly use.
constexpr int kSuggestedTimeoutS = 30;
}  // namespace

KeyingGroup::KeyingGroup(QWidget* parent) : QGroupBox(QStringLiteral("Защита передатчика и канала"), parent) {
  setObjectName(QStringLiteral("KeyingExtras"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 4, 8, 6);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(2);
  lead_ = AddRow(0, 0, "TxLead", QStringLiteral("Упреждение RTS, мс"), 2000,
                 QStringLiteral("Режим RTS/CTS: после подъёма RTS первый символ уходит через это время."));
  tail_ = AddRow(0, 2, "TxTail", QStringLiteral("Удержание RTS, мс"), 2000,
                 QStringLiteral("RTS держится это время после ухода последнего стопового бита. На "
                                "USB-адаптере очередь драйвера пустеет, пока FIFO микросхемы ещё "
                                "передаёт: это время должно покрывать остаток FIFO."));
  ctsWait_ = AddRow(1, 0, "CtsWait", QStringLiteral("Ждать CTS, мс (0 — нет)"), 10000,
                    QStringLiteral("Режим RTS/CTS: первый символ уходит, когда радиостанция "
                                   "поднимет CTS; не поднимет за это время — передача отменяется."));
  busyWait_ = AddRow(1, 2, "BusyWait", QStringLiteral("Ждать канал, мс (0 — нет)"), 60000,
                     QStringLiteral("Пока есть DCD (канал занят), передача ждёт; не освободится "
                                    "за это время — передача отменяется."));
  busyBackoff_ = AddRow(2, 0, "BusyBackoff", QStringLiteral("Отсрочка после DCD до, мс"), 5000,
                        QStringLiteral("После освобождения канала — случайная пауза от пятой "
                                       "части до этого значения, чтобы две станции не начали разом."));
  timeout_ = AddRow(2, 2, "TxTimeout", QStringLiteral("Таймаут передатчика, с"), 600,
                    QStringLiteral("RTS никогда не держится дольше (0 — без таймаута, "
                                   "обычно %1 с).").arg(kSuggestedTimeoutS));
  timeout_->setSpecialValueText(QStringLiteral("нет"));
  lockout_ = AddRow(3, 0, "TxLockout", QStringLiteral("Пауза после таймаута, с"), 600,
                    QStringLiteral("После таймаута передача не начнётся раньше этого времени."));
  invert_ = new QCheckBox(QStringLiteral("Инверсный RTS"), this);
  invert_->setObjectName(QStringLiteral("RtsInvert"));
  invert_->setToolTip(QStringLiteral("Передатчик включается низким уровнем RTS (инвертирующий преобразователь уровней)."));
  grid->addWidget(invert_, 3, 2, 1, 2);
}

QSpinBox* KeyingGroup::AddRow(int row, int column, const char* name, const QString& caption,
                              int highest, const QString& tip) {
  auto* grid = static_cast<QGridLayout*>(layout());
  auto* label = new QLabel(caption, this);
  label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
  auto* spin = new QSpinBox(this);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(0, highest);
  spin->setToolTip(tip);
  label->setToolTip(tip);
  label->setBuddy(spin);
  grid->addWidget(label, row, column);
  grid->addWidget(spin, row, column + 1);
  if (row == 0 && column == 0) leadLabel_ = label;
  if (row == 1 && column == 0) ctsWaitLabel_ = label;
  return spin;
}

void KeyingGroup::Fill(const KeyingExtras& extras) {
  lead_->setValue(extras.leadMs);
  tail_->setValue(extras.tailMs);
  ctsWait_->setValue(extras.ctsWaitMs);
  busyWait_->setValue(extras.busyWaitMs);
  busyBackoff_->setValue(extras.busyBackoffMs);
  timeout_->setValue(extras.timeoutS);
  lockout_->setValue(extras.lockoutS);
  invert_->setChecked(extras.rtsInvert);
}

KeyingExtras KeyingGroup::Values() const {
  return {lead_->value(),        tail_->value(),    ctsWait_->value(), busyWait_->value(),
          busyBackoff_->value(), timeout_->value(), lockout_->value(), invert_->isChecked()};
}

void KeyingGroup::EnableForMode(bool rtsCtsMode) {
  for (QWidget* w : std::initializer_list<QWidget*>{lead_, leadLabel_, ctsWait_, ctsWaitLabel_})
    w->setEnabled(rtsCtsMode);
}

QList<QWidget*> KeyingGroup::TabStops() const {
  return {lead_, tail_, ctsWait_, busyWait_, busyBackoff_, timeout_, lockout_, invert_};
}

}  // namespace velmora::dialogs
