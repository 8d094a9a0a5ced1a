#pragma once
// The file dialog that chooses the viewer program.
//
// Two filters: "Программы (*.exe *.com)" as the console has always offered, and one that shows
// every executable file (and the folders to reach them), where the dialog starts: programs on
// Linux have no extension. The dialog is Qt's own (not the desktop's), so that the executable
// filter works and tests can drive it as a QFileDialog. User-interface thread only.

#include <QFileDialog>
#include <QString>

namespace velmora::dialogs {

class ExecutableFilesOnly;

class ProgramFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  static QString ProgramsFilter() { return QStringLiteral("Программы (*.exe *.com)"); }
  static QString ExecutablesFilter() { return QStringLiteral("Исполняемые файлы (*)"); }

  // Starts at `initialPath` (its folder, the file itself selected) when one is given.
  explicit ProgramFileDialog(QWidget* parent, const QString& initialPath);

 private:
  void FilterChosen(const QString& filter);

  ExecutableFilesOnly* executablesOnly_;
};

}  // namespace velmora::dialogs
