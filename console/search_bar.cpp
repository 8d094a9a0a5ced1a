#include "console/search_bar.h"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>

#include "console/cp1251.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

// Text that arrives is searched at most this often while the bar is open: a flood brings new
// text twenty times a second, and the whole pane is searched each time.
constexpr int kRefreshIntervalMs = 250;

QString ByteFormPattern(const std::vector<int>& bytes, ShownForm form) {
  QString pattern;
  if (form == ShownForm::kText) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const int b = bytes[i];
      if (b < 0) {
        pattern += u'.';
      } else if (b == '\r' || b == '\n') {
        // The pane shows CR, LF and CR LF as one line break.
        pattern += QStringLiteral("\\n");
        if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      } else {
        pattern += QRegularExpression::escape(QString(QChar(Cp1251ToUnicode(static_cast<uint8_t>(b)))));
      }
    }
    return pattern;
  }
  // A form starts where no digit of the form stands before it, so a match never begins inside
  // another byte's form; each form ends in its dot.
  const bool hex = form == ShownForm::kHex;
  pattern = hex ? QStringLiteral("(?<![0-9A-F])") : QStringLiteral("(?<![01])");
  for (const int b : bytes) {
    if (b < 0)
      pattern += hex ? QStringLiteral("[0-9A-F]{2}\\.") : QStringLiteral("[01]{8}\\.");
    else if (hex)
      pattern += QStringLiteral("%1\\.").arg(b, 2, 16, QChar(u'0')).toUpper();
    else
      pattern += QStringLiteral("%1\\.").arg(b, 8, 2, QChar(u'0'));
  }
  return pattern;
}

// A hexadecimal digit's value, -1 for any other character.
int HexDigit(QChar c) { return c.unicode() < 0x80 ? port::HexDigit(static_cast<char>(c.unicode())) : -1; }

}  // namespace

std::optional<std::vector<int>> ParseBytePattern(const QString& text) {
  std::vector<int> bytes;
  for (const QString& token : text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
    if (token.size() % 2 != 0) return std::nullopt;
    for (qsizetype i = 0; i < token.size(); i += 2) {
      if (token[i] == u'?' && token[i + 1] == u'?') {
        bytes.push_back(-1);
        continue;
      }
      const int high = HexDigit(token[i]);
      const int low = HexDigit(token[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      bytes.push_back(high * 16 + low);
    }
  }
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

std::vector<ReceiveTextView::Mark> FindMatches(const QString& text, const QString& query, bool bytes,
                                               ShownForm form) {
  std::vector<ReceiveTextView::Mark> matches;
  if (query.isEmpty()) return matches;
  QRegularExpression expression;
  if (bytes) {
    const std::optional<std::vector<int>> pattern = ParseBytePattern(query);
    if (!pattern) return matches;
    expression.setPattern(ByteFormPattern(*pattern, form));
    expression.setPatternOptions(QRegularExpression::DotMatchesEverythingOption);
  } else {
    expression.setPattern(QRegularExpression::escape(query));
    expression.setPatternOptions(QRegularExpression::CaseInsensitiveOption);
  }
  QRegularExpressionMatchIterator it = expression.globalMatch(text);
  while (it.hasNext()) {
    const QRegularExpressionMatch match = it.next();
    matches.emplace_back(static_cast<int>(match.capturedStart()), static_cast<int>(match.capturedEnd()));
  }
  return matches;
}

SearchBar::SearchBar(ReceiveTextView* view, std::function<ShownForm()> form, QWidget* parent)
    : QWidget(parent), view_(view), form_(std::move(form)) {
  setObjectName(QStringLiteral("SearchBar"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(4);
  auto* caption = new QLabel(QStringLiteral("На&йти:"), this);
  field_ = new QLineEdit(this);
  field_->setObjectName(QStringLiteral("SearchField"));
  field_->setToolTip(QStringLiteral("Текст, или байты в шестнадцатеричном виде: 01 03 ?? 0A (?? — любой байт)"));
  caption->setBuddy(field_);
  bytesSwitch_ = new QCheckBox(QStringLiteral("&Байты"), this);
  bytesSwitch_->setObjectName(QStringLiteral("SearchBytes"));
  bytesSwitch_->setToolTip(QStringLiteral("Искать байты: пары шестнадцатеричных цифр, ?? — любой байт"));
  const auto makeButton = [this](const char* name, const QString& text, const QString& tip) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    return button;
  };
  previousButton_ = makeButton("SearchPrevious", QStringLiteral("▲"), QStringLiteral("Предыдущее (Shift+F3)"));
  nextButton_ = makeButton("SearchNext", QStringLiteral("▼"), QStringLiteral("Следующее (F3)"));
  QToolButton* closeButton = makeButton("SearchClose", QStringLiteral("✕"), QStringLiteral("Закрыть (Esc)"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("SearchStatus"));
  row->addWidget(caption);
  row->addWidget(field_, 1);
  row->addWidget(bytesSwitch_);
  row->addWidget(previousButton_);
  row->addWidget(nextButton_);
  row->addWidget(status_, 1);
  row->addWidget(closeButton);
  field_->installEventFilter(this);

  refresh_.setSingleShot(true);
  refresh_.setInterval(kRefreshIntervalMs);
  connect(&refresh_, &QTimer::timeout, this, [this] { Search(false); });
  connect(view_, &ReceiveTextView::TextChanged, this, [this] {
    if (!isHidden() && !refresh_.isActive()) refresh_.start();
  });
  connect(field_, &QLineEdit::textEdited, this, [this] { Search(true); });
  connect(bytesSwitch_, &QCheckBox::toggled, this, [this] { Search(true); });
  connect(nextButton_, &QToolButton::clicked, this, &SearchBar::FindNext);
  connect(previousButton_, &QToolButton::clicked, this, &SearchBar::FindPrevious);
  connect(closeButton, &QToolButton::clicked, this, &SearchBar::Close);
  hide();
}

void SearchBar::Open() {
  show();
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
  Search(false);
}

void SearchBar::Close() {
  refresh_.stop();
  matches_.clear();
  view_->SetMarks({});
  hide();
  emit closed();
}

void SearchBar::FindNext() { Step(true); }
void SearchBar::FindPrevious() { Step(false); }

void SearchBar::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool SearchBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      Step(!(key->modifiers() & Qt::ShiftModifier));
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      Close();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void SearchBar::Search(bool moveToMatch) {
  const QString query = field_->text();
  malformed_ = bytesSwitch_->isChecked() && !query.trimmed().isEmpty() && !ParseBytePattern(query);
  matches_ = FindMatches(view_->toPlainText(), query, bytesSwitch_->isChecked(), form_());
  view_->SetMarks(matches_);
  if (moveToMatch && !matches_.empty()) {
    // As the operator types, the match stays where it began, or moves on to the next one.
    int start = 0;
    int end = 0;
    view_->SelectionOffsets(start, end);
    const auto at = std::find_if(matches_.begin(), matches_.end(),
                                 [start](const ReceiveTextView::Mark& m) { return m.first >= start; });
    Select(at == matches_.end() ? 0 : static_cast<int>(at - matches_.begin()));
  }
  ShowStatus();
}

void SearchBar::Step(bool forward) {
  if (isHidden()) Open();
  Search(false);
  if (matches_.empty()) return;
  const int count = MatchCount();
  int index = CurrentIndex();
  if (index >= 0) {
    index = (index + (forward ? 1 : count - 1)) % count;
  } else {
    int start = 0;
    int end = 0;
    view_->SelectionOffsets(start, end);
    const auto after = std::find_if(matches_.begin(), matches_.end(),
                                    [start](const ReceiveTextView::Mark& m) { return m.first >= start; });
    index = static_cast<int>(after - matches_.begin());
    if (forward)
      index = index == count ? 0 : index;
    else
      index = index == 0 ? count - 1 : index - 1;
  }
  Select(index);
}

void SearchBar::Select(int index) {
  const ReceiveTextView::Mark& match = matches_[static_cast<size_t>(index)];
  view_->SelectOffsets(match.first, match.second);
  ShowStatus();
}

int SearchBar::CurrentIndex() const {
  int start = 0;
  int end = 0;
  view_->SelectionOffsets(start, end);
  const auto it = std::lower_bound(matches_.begin(), matches_.end(), ReceiveTextView::Mark{start, end});
  return it != matches_.end() && *it == ReceiveTextView::Mark{start, end} ? static_cast<int>(it - matches_.begin())
                                                                          : -1;
}

void SearchBar::ShowStatus() {
  if (malformed_) {
    status_->setText(QStringLiteral("Байты: пары шестнадцатеричных цифр или ??"));
  } else if (field_->text().isEmpty()) {
    status_->clear();
  } else if (matches_.empty()) {
    status_->setText(QStringLiteral("Не найдено"));
  } else if (const int index = CurrentIndex(); index >= 0) {
    status_->setText(QStringLiteral("%1 из %2").arg(index + 1).arg(MatchCount()));
  } else {
    status_->setText(QStringLiteral("Совпадений: %1").arg(MatchCount()));
  }
}

QString SearchBar::StatusText() const { return status_->text(); }

}  // namespace velmora::console
