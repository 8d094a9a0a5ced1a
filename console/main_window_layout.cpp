// The main window's components: panels, panes, buttons, splitter, menu, status bar, timers.

#include <algorithm>

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/caret_rest.h"
#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/message_presenter.h"
#include "console/receive_pane.h"
#include "console/status_panels.h"
#include "console/transmit_pane.h"
#include "port/qt/com_combo_box.h"

namespace velmora::console {

namespace {

constexpr int kDesignWidth = 646;
constexpr int kDesignHeight = 480;
constexpr int kHeaderHeight = 32;
constexpr int kStatusBarSpacing = 6;  // between the bar's items, as Qt lays them out
constexpr int kReceivePanelHeight = 186;
constexpr int kSplitterWidth = 4;
constexpr int kPaneLineLimit = 2000;

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, bool latching) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setCheckable(latching);
  button->setAutoDefault(false);
  return button;
}

QToolButton* MakeModeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(caption);
  button->setCheckable(true);
  button->setMinimumWidth(40);
  return button;
}

// A panel: a header strip of fixed height above a pane that takes the rest.
QWidget* MakePanel(const char* name, QHBoxLayout*& header, QVBoxLayout*& body) {
  auto* panel = new QWidget;
  panel->setObjectName(QString::fromLatin1(name));
  body = new QVBoxLayout(panel);
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  auto* strip = new QWidget(panel);
  strip->setFixedHeight(kHeaderHeight);
  header = new QHBoxLayout(strip);
  header->setContentsMargins(4, 3, 4, 3);
  header->setSpacing(4);
  body->addWidget(strip);
  return panel;
}

// Room for the window manager's title bar and borders, which the window learns of only once it
// is shown.
constexpr QSize kFrameAllowance{16, 40};

// On a small screen (1024 × 768 at 150 % is 683 × 512 points) the window is made no larger than
// the screen's free area and moved as far as it must to lie inside it, frame included.
void FitIntoScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) return;
  const QRect free = screen->availableGeometry();
  const QSize room = (free.size() - kFrameAllowance).expandedTo(window->minimumSize());
  window->resize(window->size().boundedTo(room));
  const int right = free.right() + 1 - kFrameAllowance.width() - window->width();
  const int bottom = free.bottom() + 1 - kFrameAllowance.height() - window->height();
  window->move(std::max(free.left(), std::min(window->x(), right)),
               std::max(free.top(), std::min(window->y(), bottom)));
}

QString DecodePortText(const std::string& text) { return DecodeCp1251(text); }
std::string EncodePortText(const QString& text) { return EncodeCp1251(text); }

QLabel* MakeCaption(const QString& text) {
  auto* label = new QLabel(text);
  label->setMinimumWidth(64);
  return label;
}

}  // namespace

MainWindow::MainWindow(std::shared_ptr<platform::DeviceDirectory> directory,
                       std::unique_ptr<MessagePresenter> presenter, QWidget* parent, std::string sysfsRoot)
    : QMainWindow(parent),
      sysfsRoot_(std::move(sysfsRoot)),
      presenter_(presenter ? std::move(presenter) : std::make_unique<MessageBoxPresenter>()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Velmora"));
  // A port name reads the same in the parameters dialog's list and field as in the status bar
  // and the error boxes.
  port::TComComboBox::SetTextCodec(&DecodePortText, &EncodePortText);
  // The layout's sizes were chosen for an 8-point interface font; the system's own family at that
  // size keeps captions and panel texts within them.
  QFont formFont = font();
  formFont.setPointSize(8);
  setFont(formFont);
  resize(kDesignWidth, kDesignHeight);
  move(191, 167);
  BuildLayout();
  CreateKeyer();
  BuildMenu();
  BuildStatusBar();
  // The design width was chosen for a smaller font: widen the window once, before it is shown,
  // as far as the status bar needs to show a usual port summary whole. This depends on the font
  // only, never on the port's name, and nothing widens it later.
  // The bar's size grip appears only with the window: its room is counted here.
  const int gripRoom = style()->pixelMetric(QStyle::PM_SizeGripSize) + 2 * kStatusBarSpacing;
  resize(std::max(kDesignWidth, statusPanels_->sizeHint().width() + gripRoom), kDesignHeight);
  FitIntoScreen(this);
  ConnectHandlers();
  new CaretRest(this);  // an idle console wakes only for its state timer
  port_.SetDeviceDirectory(directory ? std::move(directory)
                                     : platform::DeviceDirectory::Standard());
  AttachPortHandlers();
  StartUp();
}

void MainWindow::BuildLayout() {
  QHBoxLayout* header = nullptr;
  QVBoxLayout* body = nullptr;

  transmitPanel_ = MakePanel("Panel1", header, body);
  header->addWidget(MakeCaption(QStringLiteral("Передача")));
  clearTransmitButton_ = MakeButton(transmitPanel_, "Button1", QStringLiteral("О&чистить"), false);
  sendFileButton_ = MakeButton(transmitPanel_, "Button5", QStringLiteral("П&ередать файл"), true);
  header->addWidget(clearTransmitButton_);
  header->addWidget(sendFileButton_);
  header->addStretch(1);
  BuildSendLine(body);
  transmitPane_ = new TransmitPane(transmitPanel_);
  transmitPane_->setObjectName(QStringLiteral("Memo1"));
  transmitPane_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  transmitPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves the focus, as in a dialog; it is not typed into the pane (nor sent).
  transmitPane_->setTabChangesFocus(true);
  transmitPane_->installEventFilter(this);
  new KeysToTransmitPane(this, transmitPane_);
  body->addWidget(transmitPane_, 1);
  transmitLimit_ = new PaneLineLimit(transmitPane_, kPaneLineLimit);
  transmitFont_ = transmitPane_->font();

  receivePanel_ = MakePanel("Panel3", header, body);
  header->addWidget(MakeCaption(QStringLiteral("Прием")));
  clearReceiveButton_ = MakeButton(receivePanel_, "Button2", QStringLiteral("&Очистить"), false);
  captureButton_ = MakeButton(receivePanel_, "Button3", QStringLiteral("&Записать в файл"), true);
  viewFileButton_ =
      MakeButton(receivePanel_, "Button4", QStringLiteral("Прос&мотреть файл"), false);
  header->addWidget(clearReceiveButton_);
  header->addWidget(captureButton_);
  header->addWidget(viewFileButton_);
  header->addSpacing(8);
  asciiButton_ = MakeModeButton(receivePanel_, "SButton1", QStringLiteral("&ASCII"));
  hexButton_ = MakeModeButton(receivePanel_, "SButton2", QStringLiteral("&Hex"));
  binButton_ = MakeModeButton(receivePanel_, "SButton3", QStringLiteral("&Bin"));
  asciiButton_->setChecked(true);
  header->addWidget(asciiButton_);
  header->addWidget(hexButton_);
  header->addWidget(binButton_);
  framesButton_ = MakeModeButton(receivePanel_, "SButton4", QStringLiteral("&Кадры"));
  header->addWidget(framesButton_);
  header->addStretch(1);
  receiveView_ = new ReceiveTextView(receivePanel_);
  receiveView_->setObjectName(QStringLiteral("Memo2"));
  receiveView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  receiveView_->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  body->addWidget(receiveView_, 1);
  BuildSearchBar(body);
  receivePane_ = new ReceivePane(receiveView_);
  frameView_ = new FrameView(this);
  frameView_->SetGapSource([this] { return FrameGap(); });
  frameView_->SetLinesWanted(false);  // until "Кадры" is pressed or a session log runs
  connect(frameView_, &FrameView::FrameLine, this, [this](const QString& line, const QDateTime& time) {
    Guarded([&] {
      if (sessionLog_.Active()) sessionLog_.WriteFrameLine(time, line);
      OnFrameLine(line);
    });
  });
  connect(this, &MainWindow::RtsChanged, frameView_, &FrameView::NoteKeyed);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName(QStringLiteral("Splitter1"));
  splitter_->setHandleWidth(kSplitterWidth);
  splitter_->setOpaqueResize(false);  // the boundary is dragged as a line
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(transmitPanel_);
  splitter_->addWidget(receivePanel_);
  // The receive panel keeps its height when the window is resized.
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  splitter_->setSizes({height() - kReceivePanelHeight, kReceivePanelHeight});
  setCentralWidget(splitter_);

  keyingDelay_ = new QTimer(this);
  keyingDelay_->setObjectName(QStringLiteral("Timer1"));
  // The coarse kind may fire up to 5 % early; the delay lets a radio key up, so it is a floor.
  keyingDelay_->setTimerType(Qt::PreciseTimer);
  idleTimer_ = new QTimer(this);
  idleTimer_->setObjectName(QStringLiteral("Timer2"));
  idleTimer_->setInterval(1000);
}

void MainWindow::BuildMenu() {
  const auto addItem = [this](QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  statisticsAction_ = addItem(file, "N11", QStringLiteral("&Статистика..."));
  linkTestAction_ = addItem(file, "LinkTestAction", QStringLiteral("&Проверка канала..."));
  file->addSeparator();
  exitAction_ = addItem(file, "N7", QStringLiteral("&Выход"));
  // Alt+Р opens it, as it always has.
  QMenu* parameters = menuBar()->addMenu(QStringLiteral("Па&раметры"));
  portSettingsAction_ = addItem(parameters, "N8", QStringLiteral("&Настройка порта..."));
  BuildSendCommands(parameters);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  aboutAction_ = addItem(help, "N10", QStringLiteral("&О программе..."));
}

void MainWindow::BuildStatusBar() {
  statusPanels_ = new StatusPanels(this);
  statusPanels_->setObjectName(QStringLiteral("SB1"));
  setStatusBar(statusPanels_);
}

void MainWindow::ConnectHandlers() {
  // Each handler is a boundary to Qt's event loop: nothing it raises may pass it.
  const auto guard = [this](void (MainWindow::*handler)()) {
    return [this, handler] { Guarded([&] { (this->*handler)(); }); };
  };
  connect(exitAction_, &QAction::triggered, this, guard(&MainWindow::Exit));
  connect(portSettingsAction_, &QAction::triggered, this, guard(&MainWindow::EditPortSettings));
  connect(aboutAction_, &QAction::triggered, this, guard(&MainWindow::ShowAbout));
  connect(statisticsAction_, &QAction::triggered, this, guard(&MainWindow::ShowStatistics));
  connect(linkTestAction_, &QAction::triggered, this, guard(&MainWindow::ShowLinkTest));
  connect(clearTransmitButton_, &QPushButton::clicked, this,
          guard(&MainWindow::ClearTransmitPane));
  connect(clearReceiveButton_, &QPushButton::clicked, this, guard(&MainWindow::ClearReceivePane));
  connect(captureButton_, &QPushButton::clicked, this, guard(&MainWindow::ToggleCapture));
  connect(viewFileButton_, &QPushButton::clicked, this, guard(&MainWindow::ViewCaptureFile));
  connect(sendFileButton_, &QPushButton::clicked, this, guard(&MainWindow::ToggleFileSend));
  for (QToolButton* button : {asciiButton_, hexButton_, binButton_, framesButton_})
    connect(button, &QToolButton::clicked, this,
            [this, button] { Guarded([&] { OnDisplayModeClicked(button); }); });
  connect(keyingDelay_, &QTimer::timeout, this, guard(&MainWindow::OnKeyingDelayElapsed));
  connect(idleTimer_, &QTimer::timeout, this, guard(&MainWindow::OnIdleTick));
  idleTimer_->start();
}

void MainWindow::WantFrameLines() {
  // Frames are cut and told only where someone reads them: the pane in "Кадры", the session log.
  frameView_->SetLinesWanted(framesButton_->isChecked() || sessionLog_.Active());
}

void MainWindow::OnDisplayModeClicked(QToolButton* pressed) {
  // At most one mode button is down; pressing the one that is down puts it up, leaving none.
  if (pressed->isChecked()) {
    for (QToolButton* button : {asciiButton_, hexButton_, binButton_, framesButton_})
      if (button != pressed) button->setChecked(false);
  }
  WantFrameLines();
  receiveView_->SetLineColour(framesButton_->isChecked() ? ReceiveTextView::LineColour(&FrameView::LineColour)
                                                         : ReceiveTextView::LineColour());
  // The frame view opens with the driver's refusal of low latency, which spoils its times.
  if (pressed == framesButton_ && pressed->isChecked() && port_.LowLatency() == platform::LowLatencyAnswer::Refused)
    receivePane_->AppendLine(FrameView::LowLatencyRefusedLine(QString::fromStdString(port_.Port()),
                                                              QDateTime::currentDateTime()));
  // The pane's lines end between two bytes' forms, never inside one.
  const std::string oneByte = ConvertForDisplay(std::string(1, '\0'));
  receiveView_->SetWrapUnit(static_cast<int>(oneByte.size()));
  FocusTransmitPane();
}

}  // namespace velmora::console
