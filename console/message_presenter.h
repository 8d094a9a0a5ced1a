#pragma once
// How the main window shows its modal error boxes.
//
// The window holds one presenter and sends every error box through it; the program uses the
// message-box presenter, tests put in one that records the texts, so no person has to click.
// Used on the user-interface thread only.

#include <QString>

class QWidget;

namespace velmora::console {

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // A modal error box with one OK button; returns when it is closed.
  virtual void ShowErrorBox(QWidget* parent, const QString& text) = 0;
};

class MessageBoxPresenter final : public MessagePresenter {
 public:
  void ShowErrorBox(QWidget* parent, const QString& text) override;
};

}  // namespace velmora::console
