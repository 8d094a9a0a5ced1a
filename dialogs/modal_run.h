#pragma once
// Runs a dialog modally and destroys it afterwards — also when an error leaves the run, and
// without a second deletion when its owner was destroyed during the run (the owner deletes its
// children). Templates only; user-interface thread.

#include <memory>

#include <QDialog>
#include <QPointer>

namespace velmora::dialogs {

template <typename Dialog>
int RunModal(Dialog* dialog) {
  const QPointer<QDialog> alive(dialog);
  const auto deleteIfAlive = [](const QPointer<QDialog>* pointer) { delete pointer->data(); };
  const std::unique_ptr<const QPointer<QDialog>, decltype(deleteIfAlive)> cleanup(&alive,
                                                                                  deleteIfAlive);
  return dialog->exec();
}

}  // namespace velmora::dialogs
