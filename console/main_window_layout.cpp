// The main window's components: panels, panes, buttons, splitter, menu, status bar, timers.

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/guarded.h"
#include "console/main_window.h"
#include "console/message_presenter.h"
#include "console/receive_pane.h"
#include "console/status_panels.h"

namespace velmora::console {

namespace {

constexpr int kHeaderHeight = 32;
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

QLabel* MakeCaption(const QString& text) {
  auto* label = new QLabel(text);
  label->setMinimumWidth(64);
  return label;
}

}  // namespace

TForm1::TForm1(std::shared_ptr<platform::DeviceDirectory> directory,
               std::unique_ptr<MessagePresenter> presenter, QWidget* parent)
    : QMainWindow(parent),
      presenter_(presenter ? std::move(presenter) : std::make_unique<MessageBoxPresenter>()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Velmora"));
  // The layout's sizes were chosen for an 8-point interface font; the system's own family at that
  // size keeps captions and panel texts within them.
  QFont formFont = font();
  formFont.setPointSize(8);
  setFont(formFont);
  resize(646, 480);
  move(191, 167);
  BuildLayout();
  BuildMenu();
  BuildStatusBar();
  ConnectHandlers();
  ComPort1.SetDeviceDirectory(directory ? std::move(directory)
                                        : platform::DeviceDirectory::Standard());
  AttachPortHandlers();
  FormCreate();
}

void TForm1::BuildLayout() {
  QHBoxLayout* header = nullptr;
  QVBoxLayout* body = nullptr;

  Panel1 = MakePanel("Panel1", header, body);
  header->addWidget(MakeCaption(QStringLiteral("Передача")));
  Button1 = MakeButton(Panel1, "Button1", QStringLiteral("О&чистить"), false);
  Button5 = MakeButton(Panel1, "Button5", QStringLiteral("П&ередать файл"), true);
  header->addWidget(Button1);
  header->addWidget(Button5);
  header->addStretch(1);
  Memo1 = new QPlainTextEdit(Panel1);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves the focus, as in a dialog; it is not typed into the pane (nor sent).
  Memo1->setTabChangesFocus(true);
  Memo1->installEventFilter(this);
  body->addWidget(Memo1, 1);
  transmitLimit_ = new PaneLineLimit(Memo1, kPaneLineLimit);
  ConsoleFont = Memo1->font();

  Panel3 = MakePanel("Panel3", header, body);
  header->addWidget(MakeCaption(QStringLiteral("Прием")));
  Button2 = MakeButton(Panel3, "Button2", QStringLiteral("&Очистить"), false);
  Button3 = MakeButton(Panel3, "Button3", QStringLiteral("&Записать в файл"), true);
  Button4 = MakeButton(Panel3, "Button4", QStringLiteral("Прос&мотреть файл"), false);
  header->addWidget(Button2);
  header->addWidget(Button3);
  header->addWidget(Button4);
  header->addSpacing(8);
  SButton1 = MakeModeButton(Panel3, "SButton1", QStringLiteral("&ASCII"));
  SButton2 = MakeModeButton(Panel3, "SButton2", QStringLiteral("&Hex"));
  SButton3 = MakeModeButton(Panel3, "SButton3", QStringLiteral("&Bin"));
  SButton1->setChecked(true);
  header->addWidget(SButton1);
  header->addWidget(SButton2);
  header->addWidget(SButton3);
  header->addStretch(1);
  Memo2 = new QPlainTextEdit(Panel3);
  Memo2->setObjectName(QStringLiteral("Memo2"));
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  body->addWidget(Memo2, 1);
  receivePane_ = new ReceivePane(Memo2);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setOpaqueResize(false);  // the boundary is dragged as a line
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(Panel3);
  // The receive panel keeps its height when the window is resized.
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({height() - kReceivePanelHeight, kReceivePanelHeight});
  setCentralWidget(Splitter1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(1000);
}

void TForm1::BuildMenu() {
  const auto addItem = [this](QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  N11 = addItem(file, "N11", QStringLiteral("&Статистика..."));
  file->addSeparator();
  N7 = addItem(file, "N7", QStringLiteral("&Выход"));
  QMenu* parameters = menuBar()->addMenu(QStringLiteral("П&раметры"));
  N8 = addItem(parameters, "N8", QStringLiteral("&Настройка порта..."));
  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  N10 = addItem(help, "N10", QStringLiteral("&О программе..."));
}

void TForm1::BuildStatusBar() {
  SB1 = new StatusPanels(this);
  SB1->setObjectName(QStringLiteral("SB1"));
  setStatusBar(SB1);
}

void TForm1::ConnectHandlers() {
  // Each handler is a boundary to Qt's event loop: nothing it raises may pass it.
  const auto guard = [this](void (TForm1::*handler)()) {
    return [this, handler] { Guarded([&] { (this->*handler)(); }); };
  };
  connect(N7, &QAction::triggered, this, guard(&TForm1::N7Click));
  connect(N8, &QAction::triggered, this, guard(&TForm1::N8Click));
  connect(N10, &QAction::triggered, this, guard(&TForm1::N10Click));
  connect(N11, &QAction::triggered, this, guard(&TForm1::N11Click));
  connect(Button1, &QPushButton::clicked, this, guard(&TForm1::Button1Click));
  connect(Button2, &QPushButton::clicked, this, guard(&TForm1::Button2Click));
  connect(Button3, &QPushButton::clicked, this, guard(&TForm1::Button3Click));
  connect(Button4, &QPushButton::clicked, this, guard(&TForm1::Button4Click));
  connect(Button5, &QPushButton::clicked, this, guard(&TForm1::Button5Click));
  connect(SButton1, &QToolButton::clicked, this, [this] { SelectDisplayMode(SButton1); });
  connect(SButton2, &QToolButton::clicked, this, [this] { SelectDisplayMode(SButton2); });
  connect(SButton3, &QToolButton::clicked, this, [this] { SelectDisplayMode(SButton3); });
  connect(SButton1, &QToolButton::clicked, this, guard(&TForm1::SButton1Click));
  connect(SButton2, &QToolButton::clicked, this, guard(&TForm1::SButton2Click));
  connect(SButton3, &QToolButton::clicked, this, guard(&TForm1::SButton3Click));
  connect(Timer1, &QTimer::timeout, this, guard(&TForm1::Timer1Timer));
  connect(Timer2, &QTimer::timeout, this, guard(&TForm1::Timer2Timer));
  Timer2->start();
}

void TForm1::SelectDisplayMode(QToolButton* pressed) {
  // At most one mode button is down; pressing the one that is down puts it up, leaving none.
  if (!pressed->isChecked()) return;
  for (QToolButton* button : {SButton1, SButton2, SButton3})
    if (button != pressed) button->setChecked(false);
}

}  // namespace velmora::console
