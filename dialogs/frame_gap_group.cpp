#include "dialogs/frame_gap_group.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace velmora::dialogs {

FrameGapGroup::FrameGapGroup(QWidget* parent) : QGroupBox(QStringLiteral("Кадры"), parent) {
  setObjectName(QStringLiteral("FrameGapGroup"));
  auto* row = new QHBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Пауза между кадрами, мс:"), this);
  field_ = new QSpinBox(this);
  field_->setObjectName(QStringLiteral("FrameGapField"));
  field_->setRange(0, kHighestMs);
  // 0 is no pause of its own: the rule of 3.5 characters at the port's line settings.
  field_->setSpecialValueText(QStringLiteral("3,5 символа"));
  field_->setAccessibleName(label->text());
  label->setBuddy(field_);
  row->addWidget(label);
  row->addWidget(field_, 1);
}

void FrameGapGroup::Fill(int32_t frameGapMs) { field_->setValue(frameGapMs); }

int32_t FrameGapGroup::Value() const { return field_->value(); }

}  // namespace velmora::dialogs
