#include "console/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

namespace velmora::console {

namespace {

// "All files" is "*" here: on Linux "*.*" would hide every name without a dot.
const QStringList kFilters = {QStringLiteral("Текстовые файлы (*.txt)"),
                              QStringLiteral("Все файлы (*)")};

QString Run(QFileDialog* dialog, const QString& start) {
  dialog->setOption(QFileDialog::DontUseNativeDialog);  // the same dialog on every desktop
  dialog->setNameFilters(kFilters);
  if (!start.isEmpty()) dialog->selectFile(start);
  // Owned by the window: if the window goes during the run, the dialog goes with it, once.
  const QPointer<QFileDialog> alive(dialog);
  const bool chosen = dialog->exec() == QDialog::Accepted && alive;
  QString path;
  if (chosen && !dialog->selectedFiles().isEmpty()) path = dialog->selectedFiles().front();
  delete alive.data();
  return path;
}

// Qt's default suffix is added to any name typed without one, existing or not: "/dev/full"
// would become a new file "/dev/full.txt". Only a name that is not there yet gets it.
QString WithTextSuffix(const QString& path) {
  if (path.isEmpty()) return path;
  const QFileInfo file(path);
  if (!file.suffix().isEmpty() || file.exists() || file.isSymLink()) return path;
  return path + QStringLiteral(".txt");
}

}  // namespace

bool FileDialogs::TakeAnswer(QString& path) {
  if (answers_.empty()) return false;
  path = answers_.front();
  answers_.pop_front();
  return true;
}

QString FileDialogs::ChooseFileToSend(QWidget* owner, const QString& start) {
  QString path;
  if (TakeAnswer(path)) return path;
  auto* dialog = new QFileDialog(owner);
  dialog->setObjectName(QStringLiteral("OpenDialog1"));
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::AnyFile);  // a missing file is reported after the choice
  return Run(dialog, start);
}

QString FileDialogs::ChooseCaptureFile(QWidget* owner, const QString& start) {
  QString path;
  if (TakeAnswer(path)) return path;
  auto* dialog = new QFileDialog(owner, QStringLiteral("Выбор файла для записи принятых данных"));
  dialog->setObjectName(QStringLiteral("SaveDialog1"));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);  // a capture appends; nothing is lost
  return WithTextSuffix(Run(dialog, start));
}

}  // namespace velmora::console
