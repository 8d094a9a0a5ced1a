#include "dialogs/parameters_dialog.h"

#include "dialogs/frame_gap_group.h"

#include <algorithm>
#include <utility>

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include "console/cp1251.h"
#include "dialogs/keying_group.h"
#include "dialogs/program_file_dialog.h"
#include "dialogs/session_log_group.h"
#include "port/qt/com_combo_box.h"

namespace velmora::dialogs {

namespace {

// The group frames and buttons stand where the console's form has always put them; a layout
// inside each group places its controls.
constexpr QRect kConnectionGroup{8, 8, 297, 169};
constexpr QRect kKeyingGroup{312, 8, 297, 169};
constexpr QRect kEnterGroup{8, 184, 137, 113};
constexpr QRect kFontGroup{152, 184, 153, 113};
constexpr QRect kViewerGroup{312, 184, 297, 65};
constexpr QRect kOkButton{387, 259, 75, 25};
constexpr QRect kCancelButton{491, 259, 75, 25};
constexpr QSize kClientSize{617, 310};

QGroupBox* MakeGroup(QWidget* parent, const char* objectName, const QString& title) {
  auto* group = new QGroupBox(title, parent);
  group->setObjectName(QString::fromLatin1(objectName));
  return group;
}

QLabel* MakeLabel(QWidget* parent, const char* objectName, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(objectName));
  return label;
}

void Tighten(QLayout* layout) {
  layout->setContentsMargins(8, 4, 8, 6);
  layout->setSpacing(2);
}

int PointSizeOf(const QFont& font) {
  // A font sized in pixels has no point size of its own; take what it comes out as.
  return font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();
}

}  // namespace

QFont ParametersDialog::FormFont() {
  const QString classic = QStringLiteral("MS Sans Serif");
  if (QFontDatabase::hasFamily(classic)) return QFont(classic, 8);
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
  font.setBold(false);
  font.setItalic(false);
  return font;
}

QString ParametersDialog::FontText(const QString& family, int pointSize) {
  return family + QLatin1Char(',') + QString::number(pointSize);
}

ParametersDialog::ParametersDialog(const port::TCustomComPort& port, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ParamBox"));
  setWindowTitle(QStringLiteral("Параметры"));
  // A fixed frame: no resizing, no minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  setFont(FormFont());

  BuildConnectionGroup();
  BuildKeyingGroup();
  BuildEnterGroup();
  BuildFontGroup();
  BuildViewerGroup();
  sessionLogGroup_ = new SessionLogGroup(this);
  BuildButtons();
  SetTabOrder();

  // The lists are built here, once: the port list shows the ports present now.
  portBox_->Selector().SetPortSource(port.Directory());
  portBox_->SetComProperty(port::cpPort);
  baudRateBox_->SetComProperty(port::cpBaudRate);
  dataBitsBox_->SetComProperty(port::cpDataBits);
  parityBox_->SetComProperty(port::cpParity);
  stopBitsBox_->SetComProperty(port::cpStopBits);
  flowControlBox_->SetComProperty(port::cpFlowControl);
  portBox_->OnChange = [this](port::TComComboBox&) { portPicked_ = true; };
  portBox_->SetTypingAllowed(true);
  // Long by-id names are told apart by their ends (serial number, interface, port).
  portBox_->view()->setTextElideMode(Qt::ElideMiddle);
  PlaceGroups();
  portBox_->setFocus();
}

void ParametersDialog::PlaceGroups() {
  // The places were drawn for "MS Sans Serif" 8 pt. A wider or taller font (the system's
  // sans-serif where that family is missing) would cut captions off; then each column and each
  // row grows by what its most crowded part needs, and the groups keep their arrangement. Grown
  // as a whole by its most crowded group, the form would come out wider than a small screen
  // (1024 × 768 at 150 %) where one group alone needed more room.
  const auto needed = [](QWidget* widget) { return widget->sizeHint().expandedTo(widget->minimumSizeHint()); };
  const int margin = kConnectionGroup.left();
  const int gap = kKeyingGroup.left() - kConnectionGroup.right() - 1;
  const int rightMargin = kClientSize.width() - kKeyingGroup.right() - 1;
  const int bottomMargin = kClientSize.height() - kEnterGroup.bottom() - 1;

  // Columns: the connection group above the "Enter" and font groups, the keying group above the
  // viewer group and the buttons.
  const int enterWidth = std::max(kEnterGroup.width(), needed(enterSendsGroup_).width());
  const int leftWidth =
      std::max({kConnectionGroup.width(), needed(connectionGroup_).width(),
                enterWidth + gap + std::max(kFontGroup.width(), needed(fontGroup_).width())});
  const int buttonWidth =
      std::max({kOkButton.width(), needed(okButton_).width(), needed(cancelButton_).width()});
  const int rightWidth =
      std::max({kKeyingGroup.width(), needed(keyingGroup_).width(), needed(viewerGroup_).width(),
                kCancelButton.left() - kKeyingGroup.left() + buttonWidth});
  const double rightScale = double(rightWidth) / kKeyingGroup.width();
  const int rightLeft = margin + leftWidth + gap;

  // Rows: the top groups, then the lower groups beside the viewer group and the buttons.
  const int topHeight = std::max({kConnectionGroup.height(), needed(connectionGroup_).height(),
                                  needed(keyingGroup_).height()});
  const int lowerTop = margin + topHeight + (kEnterGroup.top() - kConnectionGroup.bottom() - 1);
  const int viewerHeight = std::max(kViewerGroup.height(), needed(viewerGroup_).height());
  const int buttonHeight =
      std::max({kOkButton.height(), needed(okButton_).height(), needed(cancelButton_).height()});
  const int buttonTop = lowerTop + viewerHeight + (kOkButton.top() - kViewerGroup.bottom() - 1);
  const int lowerHeight =
      std::max({kEnterGroup.height(), needed(enterSendsGroup_).height(), needed(fontGroup_).height(),
                buttonTop + buttonHeight - lowerTop});

  connectionGroup_->setGeometry(margin, margin, leftWidth, topHeight);
  keyingGroup_->setGeometry(rightLeft, margin, rightWidth, topHeight);
  enterSendsGroup_->setGeometry(margin, lowerTop, enterWidth, lowerHeight);
  fontGroup_->setGeometry(margin + enterWidth + gap, lowerTop, leftWidth - enterWidth - gap, lowerHeight);
  viewerGroup_->setGeometry(rightLeft, lowerTop, rightWidth, viewerHeight);
  const auto buttonLeft = [&](const QRect& place) {
    return rightLeft + qRound((place.left() - kKeyingGroup.left()) * rightScale);
  };
  okButton_->setGeometry(buttonLeft(kOkButton), buttonTop, buttonWidth, buttonHeight);
  cancelButton_->setGeometry(std::min(buttonLeft(kCancelButton), rightLeft + rightWidth - buttonWidth),
                             buttonTop, buttonWidth, buttonHeight);
  setFixedSize(rightLeft + rightWidth + rightMargin, lowerTop + lowerHeight + bottomMargin);
  // The session log's folder in a row of its own below, the whole width.
  const int logTop = lowerTop + lowerHeight + (kEnterGroup.top() - kConnectionGroup.bottom() - 1);
  const int logHeight = needed(sessionLogGroup_).height();
  sessionLogGroup_->setGeometry(margin, logTop, rightLeft + rightWidth - margin, logHeight);
  setFixedSize(width(), logTop + logHeight + bottomMargin);
}

ParametersDialog::~ParametersDialog() = default;

FrameGapGroup* ParametersDialog::AddFrameGap() {
  frameGap_ = new FrameGapGroup(this);
  // Shares the session log's row, at its right: the log's folder field gives up the room.
  const QRect row = sessionLogGroup_->geometry();
  const QSize needed = frameGap_->sizeHint().expandedTo(frameGap_->minimumSizeHint());
  const int gap = 6;  // as between the groups of a row above
  const int height = std::max(row.height(), needed.height());
  sessionLogGroup_->setGeometry(row.left(), row.top(), row.width() - needed.width() - gap, height);
  frameGap_->setGeometry(row.right() + 1 - needed.width(), row.top(), needed.width(), height);
  setFixedSize(width(), this->height() + height - row.height());
  setTabOrder(sessionLogGroup_->ChooseButton(), frameGap_->Field());
  return frameGap_;
}

KeyingGroup* ParametersDialog::AddKeyingExtras() {
  keyingExtras_ = new KeyingGroup(this);
  keyingExtras_->setEnabled(keyingGroup_->isEnabled());
  keyingExtras_->EnableForMode(rtsCtsKeyingButton_->isChecked());
  connect(rtsCtsKeyingButton_, &QRadioButton::toggled, keyingExtras_, &KeyingGroup::EnableForMode);
  QWidget* previous = frameGap_ ? static_cast<QWidget*>(frameGap_->Field()) : sessionLogGroup_->ChooseButton();
  for (QWidget* stop : keyingExtras_->TabStops()) setTabOrder(std::exchange(previous, stop), stop);
  const int margin = kConnectionGroup.left();
  const int bottomMargin = kClientSize.height() - kEnterGroup.bottom() - 1;
  const int rowGap = kEnterGroup.top() - kConnectionGroup.bottom() - 1;
  const int top = height() - bottomMargin + rowGap;
  const QSize needed = keyingExtras_->sizeHint().expandedTo(keyingExtras_->minimumSizeHint());
  const int across = std::max(width() - 2 * margin, needed.width());
  // On a screen too low for the whole group it scrolls in what room there is (the window
  // manager's frame counted as its usual size), so OK and every other field stay in reach.
  const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
  constexpr int kFrameAllowance = 40;
  const int room = shown ? shown->availableGeometry().height() - kFrameAllowance - top - bottomMargin : needed.height();
  int tall = needed.height();
  int wide = across;
  if (room < needed.height() && room >= needed.height() / 3) {
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName(QStringLiteral("KeyingExtrasScroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidgetResizable(true);
    scroller->setWidget(keyingExtras_);
    tall = room;
    wide = across + scroller->verticalScrollBar()->sizeHint().width();
    scroller->setGeometry(margin, top, wide, tall);
  } else {
    keyingExtras_->setGeometry(margin, top, across, tall);
  }
  setFixedSize(margin + wide + margin, top + tall + bottomMargin);
  return keyingExtras_;
}

void ParametersDialog::BuildConnectionGroup() {
  connectionGroup_ = MakeGroup(this, "GroupBox1", QStringLiteral("Параметры соединения"));
  auto* grid = new QGridLayout(connectionGroup_);
  Tighten(grid);
  grid->setHorizontalSpacing(8);
  grid->setColumnStretch(1, 1);
  struct Row {
    QLabel*& label;
    const char* labelName;
    const char* text;
    port::TComComboBox*& box;
    const char* boxName;
  };
  const Row rows[] = {
      {portLabel_, "Label1", "Номер СОМ порта", portBox_, "CBPort"},
      {baudRateLabel_, "Label2", "Скорость обмена", baudRateBox_, "CBBaud"},
      {dataBitsLabel_, "Label3", "Биты данных", dataBitsBox_, "CBData"},
      {parityLabel_, "Label4", "Четность", parityBox_, "CBParity"},
      {stopBitsLabel_, "Label5", "Стоповые биты", stopBitsBox_, "CBStop"},
      {flowControlLabel_, "Label6", "Управление потоком", flowControlBox_, "CBFlow"},
  };
  int line = 0;
  for (const Row& row : rows) {
    row.label = MakeLabel(connectionGroup_, row.labelName, QString::fromUtf8(row.text));
    row.box = new port::TComComboBox(connectionGroup_);
    row.box->setObjectName(QString::fromLatin1(row.boxName));
    // Wide enough for the longest setting text; a long port name must not widen the form.
    row.box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    row.box->setMinimumContentsLength(9);
    row.label->setBuddy(row.box);
    grid->addWidget(row.label, line, 0);
    grid->addWidget(row.box, line, 1);
    ++line;
  }
}

void ParametersDialog::BuildKeyingGroup() {
  keyingGroup_ = MakeGroup(this, "GroupBox2", QStringLiteral("Управление потоком"));
  auto* column = new QVBoxLayout(keyingGroup_);
  Tighten(column);
  rtsCtsKeyingButton_ = new QRadioButton(QStringLiteral("Управление RTS/CTS (RTS переключаемый)"), keyingGroup_);
  rtsCtsKeyingButton_->setObjectName(QStringLiteral("RB1"));
  delayedKeyingButton_ = new QRadioButton(QStringLiteral("Задержка передачи после активизации RTS"), keyingGroup_);
  delayedKeyingButton_->setObjectName(QStringLiteral("RB2"));
  keyingDelayLabel_ = MakeLabel(keyingGroup_, "Label8", QStringLiteral("Задержка (0..100), мс"));
  keyingDelaySpin_ = new QSpinBox(keyingGroup_);
  keyingDelaySpin_->setObjectName(QStringLiteral("SE1"));
  keyingDelaySpin_->setRange(0, 100);
  keyingDelaySpin_->setSingleStep(1);
  keyingDelaySpin_->setMinimumWidth(60);
  keyingDelayLabel_->setBuddy(keyingDelaySpin_);

  auto* delayRow = new QHBoxLayout;
  delayRow->setContentsMargins(20, 0, 0, 0);
  delayRow->addWidget(keyingDelayLabel_);
  delayRow->addWidget(keyingDelaySpin_);
  delayRow->addStretch();

  column->addWidget(rtsCtsKeyingButton_);
  column->addWidget(delayedKeyingButton_);
  column->addLayout(delayRow);
  column->addStretch();
  column->addWidget(MakeLabel(keyingGroup_, "Label7", QStringLiteral("Примечание. Сигнал RTS снимается нажатием")));
  column->addWidget(MakeLabel(keyingGroup_, "Label9", QStringLiteral(" клавиши ENTER (конец передачи)")));

  connect(rtsCtsKeyingButton_, &QRadioButton::clicked, this, &ParametersDialog::OnKeyingModeChosen);
  connect(delayedKeyingButton_, &QRadioButton::clicked, this, &ParametersDialog::OnKeyingModeChosen);
}

void ParametersDialog::BuildEnterGroup() {
  enterSendsGroup_ = MakeGroup(this, "RadioGroup1", QStringLiteral("После ENTER посылать"));
  auto* column = new QVBoxLayout(enterSendsGroup_);
  Tighten(column);
  enterSendsChoices_ = new QButtonGroup(enterSendsGroup_);
  const QString choices[] = {QStringLiteral("Ничего не посылать"), QStringLiteral("CR-LF"),
                             QStringLiteral("CR"), QStringLiteral("LF")};
  int id = 0;
  for (const QString& text : choices) {
    auto* choice = new QRadioButton(text, enterSendsGroup_);
    choice->setObjectName(QStringLiteral("RadioGroup1_%1").arg(id));
    enterSendsChoices_->addButton(choice, id++);
    column->addWidget(choice);
  }
  column->addStretch();
}

void ParametersDialog::BuildFontGroup() {
  fontGroup_ = MakeGroup(this, "GroupBox4", QStringLiteral("Шрифт окна Velmora"));
  auto* column = new QVBoxLayout(fontGroup_);
  Tighten(column);
  column->setSpacing(6);
  fontField_ = new QLineEdit(fontGroup_);
  fontField_->setObjectName(QStringLiteral("Edit2"));
  fontField_->setReadOnly(true);
  chooseFontButton_ = new QPushButton(QStringLiteral("Выбрать"), fontGroup_);
  chooseFontButton_->setObjectName(QStringLiteral("Button4"));
  column->addWidget(fontField_);
  column->addWidget(chooseFontButton_, 0, Qt::AlignLeft);
  column->addStretch();
  connect(chooseFontButton_, &QPushButton::clicked, this, &ParametersDialog::ChooseFont);
}

void ParametersDialog::BuildViewerGroup() {
  viewerGroup_ = MakeGroup(this, "GroupBox3", QStringLiteral("Программа просмотра файлов"));
  auto* row = new QHBoxLayout(viewerGroup_);
  Tighten(row);
  row->setSpacing(4);
  viewerPathField_ = new QLineEdit(viewerGroup_);
  viewerPathField_->setObjectName(QStringLiteral("Edit1"));
  viewerPathField_->setReadOnly(true);
  chooseViewerButton_ = new QPushButton(QStringLiteral("..."), viewerGroup_);
  chooseViewerButton_->setObjectName(QStringLiteral("Button3"));
  chooseViewerButton_->setFixedWidth(28);
  row->addWidget(viewerPathField_);
  row->addWidget(chooseViewerButton_);
  connect(chooseViewerButton_, &QPushButton::clicked, this, &ParametersDialog::ChooseViewerProgram);
}

void ParametersDialog::BuildButtons() {
  okButton_ = new QPushButton(QStringLiteral("&OK"), this);
  okButton_->setObjectName(QStringLiteral("Button1"));
  cancelButton_ = new QPushButton(QStringLiteral("&Отмена"), this);
  cancelButton_->setObjectName(QStringLiteral("Button2"));
  // No button is the default one: Enter presses a button only while it has the focus (see
  // keyPressEvent), never OK from a list box. Esc cancels.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void ParametersDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier)
      button->click();
    event->accept();  // QDialog would press a default button
    return;
  }
  QDialog::keyPressEvent(event);
}

void ParametersDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const QScreen* shownOn = screen();
  if (!shownOn) return;
  const QRect free = shownOn->availableGeometry();
  // Before the window manager has framed it the frame is not known: room for a title bar.
  const QRect frame = frameGeometry();
  const QMargins margins(geometry().left() - frame.left(), geometry().top() - frame.top(),
                         frame.right() - geometry().right(), frame.bottom() - geometry().bottom());
  const QMargins room = margins.isNull() ? QMargins(8, 32, 8, 8) : margins;
  const int width = frame.width() + (margins.isNull() ? room.left() + room.right() : 0);
  const int height = frame.height() + (margins.isNull() ? room.top() + room.bottom() : 0);
  const int x = std::max(free.left(), std::min(frame.left(), free.right() + 1 - width));
  const int y = std::max(free.top(), std::min(frame.top(), free.bottom() + 1 - height));
  if (x != frame.left() || y != frame.top()) move(x, y);
}

void ParametersDialog::SetTabOrder() {
  QList<QWidget*> order = {portBox_, baudRateBox_, dataBitsBox_, parityBox_, stopBitsBox_, flowControlBox_,
                           okButton_, cancelButton_, keyingDelaySpin_, rtsCtsKeyingButton_, delayedKeyingButton_};
  for (QAbstractButton* choice : enterSendsChoices_->buttons()) order.append(choice);
  order.append({viewerPathField_, chooseViewerButton_, fontField_, chooseFontButton_});
  order.append({sessionLogGroup_->FolderField(), sessionLogGroup_->ChooseButton()});
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void ParametersDialog::Fill(port::TCustomComPort& port, int32_t txDelay, int32_t rtsCtsMode,
                            int32_t& crLfMode, const QString& editorPath, const QFont* font,
                            bool allowEdit) {
  for (port::TComComboBox* box : {portBox_, baudRateBox_, dataBitsBox_, parityBox_, stopBitsBox_, flowControlBox_})
    box->SetComPort(&port);
  portBox_->UpdateFromPort();
  shownPortText_ = portBox_->currentText();

  keyingDelaySpin_->setValue(txDelay);  // the spin box brings it into 0..100
  rtsCtsKeyingButton_->setChecked(rtsCtsMode != 0);
  delayedKeyingButton_->setChecked(rtsCtsMode == 0);
  EnableKeyingDelay(rtsCtsMode == 0);

  viewerPathField_->setText(editorPath);
  viewerPath_ = editorPath;

  if (crLfMode > 3) crLfMode = 0;
  // An exclusive group cannot be emptied; a negative mode shows no choice.
  enterSendsChoices_->setExclusive(false);
  for (QAbstractButton* choice : enterSendsChoices_->buttons())
    choice->setChecked(enterSendsChoices_->id(choice) == crLfMode);
  enterSendsChoices_->setExclusive(true);

  for (QWidget* control : std::initializer_list<QWidget*>{
           baudRateBox_, dataBitsBox_, parityBox_, stopBitsBox_, baudRateLabel_, dataBitsLabel_,
           parityLabel_, stopBitsLabel_, viewerPathField_, chooseViewerButton_, keyingGroup_})
    control->setEnabled(allowEdit);
  flowControlBox_->setEnabled(false);
  flowControlLabel_->setEnabled(false);

  if (font) {
    fontField_->setText(FontText(font->family(), PointSizeOf(*font)));
    TakeFont(*font);
  }
}

void ParametersDialog::Apply(port::TCustomComPort& port, int32_t& txDelay, int32_t& rtsCtsMode,
                             int32_t& crLfMode, QString& editorPath, QFont* font) {
  ApplyLineSettings(port);
  txDelay = keyingDelaySpin_->value();
  crLfMode = enterSendsChoices_->checkedId();
  rtsCtsMode = rtsCtsKeyingButton_->isChecked() ? 1 : 0;
  editorPath = viewerPathField_->text();
  if (font && chosenFont_) {
    // Only name, size and style: colour, character set and pitch stay the caller's.
    font->setFamily(chosenFont_->family);
    if (chosenFont_->pointSize > 0) font->setPointSize(chosenFont_->pointSize);
    // A weight the dialog did not change (a semi-bold font) stays as it was.
    if (font->bold() != chosenFont_->bold) font->setBold(chosenFont_->bold);
    font->setItalic(chosenFont_->italic);
    font->setUnderline(chosenFont_->underline);
    font->setStrikeOut(chosenFont_->strikeOut);
  }
}

void ParametersDialog::ApplyLineSettings(port::TCustomComPort& port) {
  port.BeginSettingsUpdate();
  try {
    // A port the operator did not pick or type keeps its name: a name missing from the list
    // would otherwise become the empty name and break a working connection, and one read back
    // from the field might not come back byte for byte.
    const QString field = portBox_->currentText().trimmed();
    if (!field.isEmpty() && (portPicked_ || field != shownPortText_)) {
      portBox_->Selector().TakeText(port::TComComboBox::StoredText(field));
      portBox_->ApplyToPort();
    }
    baudRateBox_->ApplyToPort();
    dataBitsBox_->ApplyToPort();
    parityBox_->ApplyToPort();
    stopBitsBox_->ApplyToPort();
    flowControlBox_->ApplyToPort();
  } catch (...) {
    try {
      port.EndSettingsUpdate();
    } catch (...) {
      // The first failure is the one to report; this one follows from it.
    }
    throw;
  }
  port.EndSettingsUpdate();
}

void ParametersDialog::EnableKeyingDelay(bool enabled) {
  keyingDelaySpin_->setEnabled(enabled);
  keyingDelayLabel_->setEnabled(enabled);
}

void ParametersDialog::OnKeyingModeChosen() {
  if (rtsCtsKeyingButton_->isChecked()) EnableKeyingDelay(false);
  if (delayedKeyingButton_->isChecked()) EnableKeyingDelay(true);
}

void ParametersDialog::ChooseViewerProgram() {
  ProgramFileDialog files(this, viewerPath_);
  if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) return;
  const QString chosen = files.selectedFiles().constFirst();
  // The settings file holds the path in Windows-1251: a character the code page lacks would be
  // stored as '?', and the next start would look for another program.
  const bool storable = std::all_of(chosen.begin(), chosen.end(), [](QChar c) {
    return console::UnicodeToCp1251(c.unicode()).has_value();
  });
  if (!storable) {
    QMessageBox refusal(QMessageBox::Warning, QStringLiteral("Программа просмотра файлов"),
                        QStringLiteral("Путь ") + chosen +
                            QStringLiteral(" содержит знаки, которых нет в кодировке Windows-1251, и "
                                           "не сохранится в файле настроек. Выберите программу, в пути "
                                           "к которой только русские и латинские буквы, цифры и знаки."),
                        QMessageBox::Ok, this);
    refusal.setObjectName(QStringLiteral("ViewerPathRefused"));
    refusal.exec();
    return;
  }
  viewerPath_ = chosen;
  viewerPathField_->setText(viewerPath_);
}

void ParametersDialog::ChooseFont() {
  if (!fontDialog_) {
    fontDialog_ = new QFontDialog(FormFont(), this);
    fontDialog_->setObjectName(QStringLiteral("FontDialog1"));
    fontDialog_->setOption(QFontDialog::DontUseNativeDialog);
  }
  // It opens at the font the field shows, so that the operator changes that font rather than
  // starting from one that has nothing to do with the pane; with none shown, at its own.
  fontDialog_->setCurrentFont(CurrentFont());
  if (fontDialog_->exec() != QDialog::Accepted) return;
  const QFont chosen = fontDialog_->selectedFont();
  TakeFont(chosen);
  fontField_->setText(FontText(chosenFont_->family, chosenFont_->pointSize));
}

QFont ParametersDialog::CurrentFont() const {
  if (!chosenFont_) return FormFont();
  QFont font(chosenFont_->family);
  if (chosenFont_->pointSize > 0) font.setPointSize(chosenFont_->pointSize);
  font.setBold(chosenFont_->bold);
  font.setItalic(chosenFont_->italic);
  font.setUnderline(chosenFont_->underline);
  font.setStrikeOut(chosenFont_->strikeOut);
  return font;
}

void ParametersDialog::TakeFont(const QFont& font) {
  chosenFont_ = ChosenFont{font.family(), PointSizeOf(font), font.bold(),
                           font.italic(), font.underline(), font.strikeOut()};
}

}  // namespace velmora::dialogs
