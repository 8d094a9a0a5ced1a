#pragma once
// SessionLogGroup: the parameters dialog's group for the session log — the folder its daily
// files go to, typed or chosen with "…"; an empty folder keeps the log off. The folder is taken
// as the operator leaves it (trimmed of surrounding spaces); whether it can be written is found
// when the port opens, and told then. User-interface thread only.

#include <functional>

#include <QGroupBox>
#include <QString>

class QLineEdit;
class QPushButton;

namespace velmora::dialogs {

class SessionLogGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit SessionLogGroup(QWidget* parent = nullptr);

  void SetFolder(const QString& folder);
  QString Folder() const;

  QLineEdit* FolderField() const { return folderField_; }
  QPushButton* ChooseButton() const { return chooseButton_; }
  // What "…" asks, given the folder shown: the chosen folder, or empty when the operator
  // cancelled. By default the system's folder dialog; tests answer it themselves.
  void SetChooser(std::function<QString(const QString& shown)> chooser) { chooser_ = std::move(chooser); }

 private:
  void ChooseFolder();

  QLineEdit* folderField_;
  QPushButton* chooseButton_;
  std::function<QString(const QString&)> chooser_;
};

}  // namespace velmora::dialogs
