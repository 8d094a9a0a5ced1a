#include "dialogs/session_log_group.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace velmora::dialogs {

SessionLogGroup::SessionLogGroup(QWidget* parent)
    : QGroupBox(QStringLiteral("Журнал сеанса (папка; пусто — не вести)"), parent) {
  setObjectName(QStringLiteral("SessionLogGroup"));
  auto* row = new QHBoxLayout(this);
  folderField_ = new QLineEdit(this);
  folderField_->setObjectName(QStringLiteral("SessionLogFolder"));
  folderField_->setPlaceholderText(QStringLiteral("журнал не ведётся"));
  folderField_->setToolTip(
      QStringLiteral("Папка, куда при открытом порте пишется журнал: по файлу на день, velmora-ГГГГ-ММ-ДД.log"));
  chooseButton_ = new QPushButton(QStringLiteral("…"), this);
  chooseButton_->setObjectName(QStringLiteral("SessionLogChoose"));
  chooseButton_->setToolTip(QStringLiteral("Выбрать папку журнала"));
  chooseButton_->setAutoDefault(false);
  chooseButton_->setMaximumWidth(chooseButton_->fontMetrics().horizontalAdvance(QStringLiteral("…")) + 24);
  row->addWidget(folderField_, 1);
  row->addWidget(chooseButton_);
  connect(chooseButton_, &QPushButton::clicked, this, &SessionLogGroup::ChooseFolder);
}

void SessionLogGroup::SetFolder(const QString& folder) { folderField_->setText(folder); }

QString SessionLogGroup::Folder() const { return folderField_->text().trimmed(); }

void SessionLogGroup::ChooseFolder() {
  const QString shown = Folder();
  const QString chosen =
      chooser_ ? chooser_(shown)
               : QFileDialog::getExistingDirectory(this, QStringLiteral("Папка журнала сеанса"),
                                                   shown.isEmpty() ? QDir::homePath() : shown);
  if (!chosen.isEmpty()) folderField_->setText(QDir::toNativeSeparators(chosen));
}

}  // namespace velmora::dialogs
