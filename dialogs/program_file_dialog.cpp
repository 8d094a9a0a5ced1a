#include "dialogs/program_file_dialog.h"

#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace velmora::dialogs {

// Hides files that may not be run while the executable filter is chosen; folders stay so the
// operator can walk to the program.
class ExecutableFilesOnly final : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!active_) return true;
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (!files) return true;
    const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
    return info.isDir() || info.isExecutable();
  }

 private:
  bool active_ = false;
};

ProgramFileDialog::ProgramFileDialog(QWidget* parent, const QString& initialPath)
    : QFileDialog(parent), executablesOnly_(new ExecutableFilesOnly(this)) {
  setObjectName(QStringLiteral("OpenDialog1"));
  setOption(QFileDialog::DontUseNativeDialog);
  setAcceptMode(QFileDialog::AcceptOpen);
  setFileMode(QFileDialog::ExistingFile);
  setProxyModel(executablesOnly_);
  setNameFilters({ProgramsFilter(), ExecutablesFilter()});
  selectNameFilter(ExecutablesFilter());
  FilterChosen(ExecutablesFilter());
  connect(this, &QFileDialog::filterSelected, this, &ProgramFileDialog::FilterChosen);
  if (!initialPath.isEmpty()) selectFile(initialPath);
}

void ProgramFileDialog::FilterChosen(const QString& filter) {
  executablesOnly_->SetActive(filter == ExecutablesFilter());
}

}  // namespace velmora::dialogs
