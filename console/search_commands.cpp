// The receive pane's search bar in the window: Ctrl+F opens it, F3 and Shift+F3 go to the next
// and previous match wherever the focus is, closing it gives the focus back to the transmit pane.

#include <functional>

#include <QAction>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/guarded.h"
#include "console/main_window.h"
#include "console/receive_view.h"
#include "console/search_bar.h"

namespace velmora::console {

void MainWindow::BuildSearchBar(QVBoxLayout* body) {
  searchBar_ = new SearchBar(
      receiveView_,
      [this] {
        if (hexButton_->isChecked()) return ShownForm::kHex;
        if (binButton_->isChecked()) return ShownForm::kBin;
        return ShownForm::kText;
      },
      receivePanel_);
  body->addWidget(searchBar_);
  const auto addShortcut = [this](const char* name, const QKeySequence& keys, std::function<void()> command) {
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, [command = std::move(command)] { Guarded(command); });
  };
  addShortcut("SearchOpen", QKeySequence(Qt::CTRL | Qt::Key_F), [this] { searchBar_->Open(); });
  // F3 and Shift+F3 are the search's while its bar is open; otherwise F3 sends the frame stored
  // on it. (Ctrl+F in the transmit pane stays its control character: the pane keeps the key.)
  addShortcut("SearchNextMatch", QKeySequence(Qt::Key_F3), [this] {
    if (searchBar_->isVisible())
      searchBar_->FindNext();
    else
      OnFrameKey(2);
  });
  addShortcut("SearchPreviousMatch", QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] {
    if (searchBar_->isVisible()) searchBar_->FindPrevious();
  });
  connect(searchBar_, &SearchBar::closed, this, [this] { Guarded([&] { FocusTransmitPane(); }); });
}

}  // namespace velmora::console
