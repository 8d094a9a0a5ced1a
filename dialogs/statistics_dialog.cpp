#include "dialogs/statistics_dialog.h"

#include <algorithm>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "dialogs/dialog_font.h"
#include "dialogs/modal_run.h"

namespace velmora::dialogs {

namespace {

constexpr QSize kClientSize(232, 225);
constexpr QPoint kScreenPlace(351, 328);

QLabel* AddRow(QGridLayout* grid, int row, const char* captionName, const QString& caption,
               const char* figureName, const QString& initial) {
  auto* captionLabel = new QLabel(caption);
  captionLabel->setObjectName(QString::fromLatin1(captionName));
  auto* figure = new QLabel(initial);
  figure->setObjectName(QString::fromLatin1(figureName));
  grid->addWidget(captionLabel, row, 0);
  grid->addWidget(figure, row, 1);
  return figure;
}

QGroupBox* MakeGroup(const char* name, const QString& caption, QGridLayout*& grid) {
  auto* group = new QGroupBox(caption);
  group->setObjectName(QString::fromLatin1(name));
  grid = new QGridLayout(group);
  grid->setColumnStretch(1, 1);
  grid->setHorizontalSpacing(8);
  return group;
}

QString Bytes(int32_t count) { return QString::number(count) + QStringLiteral(" байт"); }

}  // namespace

StatisticsDialog::StatisticsDialog(TrafficCounters& counters, QWidget* owner)
    : QDialog(owner), counters_(counters) {
  setObjectName(QStringLiteral("StatForm"));
  setWindowTitle(QStringLiteral("Статистика"));
  // A fixed dialog border: no minimising or maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  UseDialogFont(this);

  QGridLayout* grid = nullptr;
  QGroupBox* dataGroup = MakeGroup("GroupBox1", QStringLiteral("Данные"), grid);
  receivedBytes_ = AddRow(grid, 0, "Label1", QStringLiteral("Принято:"), "LRxCnt", Bytes(0));
  transmittedBytes_ = AddRow(grid, 1, "Label2", QStringLiteral("Передано:"), "LTxCnt", Bytes(0));
  QGroupBox* errorGroup = MakeGroup("GroupBox2", QStringLiteral("Ошибки"), grid);
  lineErrorEvents_ =
      AddRow(grid, 0, "Label3", QStringLiteral("Ввод/вывод:"), "LComError", QStringLiteral("0"));
  bufferWarnings_ = AddRow(grid, 1, "Label4", QStringLiteral("Переполнение буфера:"),
                           "LBufError", QStringLiteral("0"));

  // Both groups' figures start at one column.
  int captionWidth = 0;
  for (QGroupBox* group : {dataGroup, errorGroup})
    for (const char* name : {"Label1", "Label2", "Label3", "Label4"})
      if (const auto* caption = group->findChild<QLabel*>(QString::fromLatin1(name)))
        captionWidth = std::max(captionWidth, caption->sizeHint().width());
  for (QGroupBox* group : {dataGroup, errorGroup})
    static_cast<QGridLayout*>(group->layout())->setColumnMinimumWidth(0, captionWidth);

  clearButton_ = new QPushButton(QStringLiteral("&Очистить"));
  clearButton_->setObjectName(QStringLiteral("Button1"));
  // Enter closes the dialog wherever the focus is; clearing is never a side effect of Enter.
  clearButton_->setAutoDefault(false);
  closeButton_ = new QPushButton(QStringLiteral("&Закрыть"));
  closeButton_->setObjectName(QStringLiteral("Button2"));
  closeButton_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(clearButton_);
  buttons->addWidget(closeButton_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(dataGroup);
  layout->addWidget(errorGroup);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(clearButton_, &QPushButton::clicked, this, &StatisticsDialog::ClearCounters);
  // Esc ends the run through reject(); the close button ends it the same way.
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);

  ShowFigures();
  setFixedSize(kClientSize.expandedTo(sizeHint()));
  PlaceOnOwnersScreen(owner);
  closeButton_->setFocus();
}

void StatisticsDialog::ShowFigures() {
  const TrafficCounters::Figures figures = counters_.CounterFigures();
  receivedBytes_->setText(Bytes(figures.RxCount));
  transmittedBytes_->setText(Bytes(figures.TxCount));
  lineErrorEvents_->setText(QString::number(figures.ComErrorCount));
  bufferWarnings_->setText(QString::number(figures.BufErrorCount));
}

void StatisticsDialog::ClearCounters() {
  counters_.ResetCounters();
  ShowFigures();
}

void StatisticsDialog::PlaceOnOwnersScreen(QWidget* owner) {
  // A fixed place on the screen rather than centred, kept whole on a small screen.
  QScreen* screen = owner ? owner->screen() : this->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  QPoint place = area.topLeft() + kScreenPlace;
  place.setX(std::max(area.left(), std::min(place.x(), area.right() - width())));
  place.setY(std::max(area.top(), std::min(place.y(), area.bottom() - height())));
  move(place);
}

void ExecuteStatForm(QWidget* owner, TrafficCounters& counters) {
  RunModal(new StatisticsDialog(counters, owner));
}

}  // namespace velmora::dialogs
