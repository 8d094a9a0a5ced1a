#pragma once
// SearchBar: the receive pane's search. The operator types text, or bytes in hexadecimal with
// `??` for any byte (the "Байты" switch); every match in the pane is marked, the current one is
// selected and scrolled into view, Enter / F3 go to the next, Shift+Enter / Shift+F3 to the
// previous (round the ends), Esc closes the bar and takes the marks away. The bar says how many
// matches there are, or "Не найдено".
//
// What is searched is what the pane shows, as it arrived (its own wrapping aside): the text in
// the text form; in the hexadecimal and binary forms the bytes' forms ("41." / "01000001."),
// which a byte pattern is matched against byte by byte and never across a form's middle. In the
// text form a byte pattern matches the bytes as they arrived, except that the pane shows CR, LF
// and CR LF alike as one line break: 0D, 0A and 0D 0A each match a line break there. Text is
// matched without regard to letter case. While the bar is open, text that arrives is searched
// too (a few times a second at most); the current match stays current.
//
// User-interface thread only.

#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "console/receive_view.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace velmora::console {

// How the pane shows received bytes.
enum class ShownForm { kText, kHex, kBin };

// "01 03 ?? 0a", "0103??0A": the bytes, -1 for any; nothing for an empty or malformed pattern.
std::optional<std::vector<int>> ParseBytePattern(const QString& text);

// Every match of `query` in `text`, in order, not overlapping, as [start, end) offsets. A byte
// pattern that does not parse matches nothing.
std::vector<ReceiveTextView::Mark> FindMatches(const QString& text, const QString& query, bool bytes,
                                               ShownForm form);

class SearchBar : public QWidget {
  Q_OBJECT

 public:
  // Searches `view`; `form` tells how the pane shows bytes now.
  SearchBar(ReceiveTextView* view, std::function<ShownForm()> form, QWidget* parent = nullptr);

  // Shows the bar with the focus in its field, its text selected.
  void Open();
  // Hides it and takes the marks away.
  void Close();
  void FindNext();
  void FindPrevious();

  QLineEdit* Field() const { return field_; }
  QCheckBox* BytesSwitch() const { return bytesSwitch_; }
  QString StatusText() const;
  int MatchCount() const { return static_cast<int>(matches_.size()); }

 signals:
  void closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Search(bool moveToMatch);
  void Step(bool forward);
  void Select(int index);
  void ShowStatus();
  int CurrentIndex() const;

  ReceiveTextView* view_;
  std::function<ShownForm()> form_;
  QLineEdit* field_;
  QCheckBox* bytesSwitch_;
  QToolButton* nextButton_;
  QToolButton* previousButton_;
  QLabel* status_;
  QTimer refresh_;  // text that arrived while the bar is open
  std::vector<ReceiveTextView::Mark> matches_;
  bool malformed_ = false;
};

}  // namespace velmora::console
