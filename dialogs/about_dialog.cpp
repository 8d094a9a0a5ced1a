#include "dialogs/about_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_font.h"
#include "dialogs/emblem.h"
#include "dialogs/modal_run.h"

namespace velmora::dialogs {

namespace {

constexpr QSize kClientSize(382, 274);

QLabel* MakeLabel(const char* name, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("О программе Velmora"));
  // A fixed dialog border: no minimising or maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  UseDialogFont(this);
  // The background of a dialog in the desktop's scheme: the colour of a button's face.
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  QLabel* emblem = MakeLabel("Image1", QString());
  emblem->setPixmap(QPixmap::fromImage(DrawEmblem()));
  emblem->setFixedSize(emblem->pixmap().size());
  QLabel* name = MakeLabel("Label1", QStringLiteral("Velmora"));
  QFont nameFont = font();
  nameFont.setBold(true);
  nameFont.setPointSize(24);
  name->setFont(nameFont);
  QLabel* version = MakeLabel("Label2", QStringLiteral("Версия 1.2"));

  auto* title = new QVBoxLayout;
  title->addWidget(name);
  title->addWidget(version);
  title->addStretch(1);
  auto* header = new QHBoxLayout;
  header->addWidget(emblem, 0, Qt::AlignTop);
  header->addSpacing(12);
  header->addLayout(title, 1);

  auto* rule = new QFrame;
  rule->setObjectName(QStringLiteral("Bevel1"));
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);

  auto* okButton = new QPushButton(QStringLiteral("&OK"));
  okButton->setObjectName(QStringLiteral("Button1"));
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(header);
  layout->addWidget(rule);
  layout->addWidget(
      MakeLabel("Label5", QStringLiteral("Программа для работы с модемами, обеспечивающими")));
  layout->addWidget(MakeLabel("Label6", QStringLiteral("сквозной (\"прозрачный\") канал связи")));
  layout->addSpacing(fontMetrics().height());
  layout->addWidget(MakeLabel("Label7", QStringLiteral("100% совместимость с модемами:")));
  layout->addWidget(
      MakeLabel("Label8", QStringLiteral("  — модемами выделенных (арендованных) линий;")));
  layout->addWidget(MakeLabel(
      "Label9", QStringLiteral("  — полудуплексными радиомодемами с управлением по RTS.")));
  layout->addStretch(1);
  layout->addWidget(okButton, 0, Qt::AlignHCenter);

  setFixedSize(kClientSize.expandedTo(sizeHint()));
}

void ExecuteAboutBox(QWidget* owner) { RunModal(new AboutDialog(owner)); }

}  // namespace velmora::dialogs
