// The parameters dialog as the operator meets it: shown by ExecuteParamBox, driven by keys and
// clicks on its controls, closed with OK, Cancel or Esc.
#include "dialogs/param_box.h"

#include <cerrno>
#include <memory>

#include <QButtonGroup>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "dialogs/parameters_dialog.h"
#include "dialogs/program_file_dialog.h"
#include "port/qt/com_combo_box.h"
#include "port/ecomport.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/support/fake_device.h"

using namespace velmora;
using dialogs::ParametersDialog;
using dialogs::testing::ParametersForm;
using dialogs::testing::WhenShown;
using port::TComComboBox;
using test::FakeDevice;

namespace {

// A port on recording devices: GOOD opens, OTHER opens, BAD refuses with EACCES. No line
// events, so the record holds exactly what the dialog caused.
struct PortUnderTest {
  std::shared_ptr<FakeDevice> good = std::make_shared<FakeDevice>();
  std::shared_ptr<FakeDevice> other = std::make_shared<FakeDevice>();
  std::shared_ptr<FakeDevice> bad = std::make_shared<FakeDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  port::TComPort port{"ComPort1"};

  PortUnderTest() {
    directory->Add("GOOD", good);
    directory->Add("OTHER", other);
    directory->Add("BAD", bad);
    bad->Fail("Open", EACCES);
    port.SetDeviceDirectory(directory);
    port.SetPort("GOOD");
    port.SetEvents({});
  }
};

struct Options {
  int32_t txDelay = 0;
  int32_t rtsCtsMode = 0;
  int32_t crLfMode = 0;
  QString editorPath = QStringLiteral("/usr/bin/less");
  QFont font = [] {
    QFont f(QStringLiteral("Courier New"), 10);
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    return f;
  }();
};

bool Run(PortUnderTest& p, Options& o, std::function<void(ParametersDialog&)> drive, bool allowEdit = true) {
  WhenShown<ParametersDialog>(std::move(drive));
  return dialogs::ExecuteParamBox(p.port, o.txDelay, o.rtsCtsMode, o.crLfMode, o.editorPath, o.font,
                                  allowEdit);
}

// The operator's keyboard on a closed drop-down list: Home, then Down to the item.
void Pick(TComComboBox& box, const QString& text) {
  const int index = box.findText(text);
  QVERIFY2(index >= 0, qPrintable(text));
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(&box, Qt::Key_Down);
  QCOMPARE(box.currentText(), text);
}

void ClickOk(QWidget& d) { QTest::mouseClick(&ParametersForm(d).OkButton(), Qt::LeftButton); }
void ClickCancel(QWidget& d) { QTest::mouseClick(&ParametersForm(d).CancelButton(), Qt::LeftButton); }

int CountCalls(const FakeDevice& device, const std::string& name) {
  int n = 0;
  for (const std::string& call : device.CallNames()) n += call == name;
  return n;
}

// Chooses `font` in the font dialog the next click on "Выбрать" opens; `opened` gets the font
// the dialog started with.
void ChooseInFontDialog(QWidget& d, const QFont& font, QFont* opened = nullptr, bool confirm = true) {
  WhenShown<QFontDialog>([=](QFontDialog& fonts) {
    if (opened) *opened = fonts.currentFont();
    fonts.setCurrentFont(font);
    confirm ? fonts.accept() : fonts.reject();
  });
  QTest::mouseClick(&ParametersForm(d).ChooseFontButton(), Qt::LeftButton);
}

}  // namespace

class TestParametersDialog : public QObject {
  Q_OBJECT

 private slots:
  void formHasItsCaptionControlsAndPlaces() {
    PortUnderTest p;
    Options o;
    Run(p, o, [&](ParametersDialog& d) {
      QCOMPARE(d.windowTitle(), QString("Параметры"));
      QCOMPARE(d.minimumSize(), d.maximumSize());  // not resizable
      QVERIFY(d.width() >= 617 && d.height() >= 310);
      QCOMPARE(d.font().pointSize(), 8);
      const ParametersForm form(d);
      const std::pair<QLabel*, QString> captions[] = {
          {&form.PortLabel(), "Номер СОМ порта"}, {&form.BaudLabel(), "Скорость обмена"},
          {&form.DataBitsLabel(), "Биты данных"}, {&form.ParityLabel(), "Четность"},
          {&form.StopBitsLabel(), "Стоповые биты"}, {&form.FlowLabel(), "Управление потоком"},
          {&form.KeyingDelayLabel(), "Задержка (0..100), мс"},
          {&form.KeyingNoteFirstLine(), "Примечание. Сигнал RTS снимается нажатием"},
          {&form.KeyingNoteSecondLine(), " клавиши ENTER (конец передачи)"}};
      for (const auto& [label, text] : captions) QCOMPARE(label->text(), text);
      QCOMPARE(ParametersForm(d).RtsCtsKeying().text(), QString("Управление RTS/CTS (RTS переключаемый)"));
      QCOMPARE(ParametersForm(d).DelayedKeying().text(), QString("Задержка передачи после активизации RTS"));
      QCOMPARE(ParametersForm(d).OkButton().text(), QString("&OK"));
      QCOMPARE(ParametersForm(d).CancelButton().text(), QString("&Отмена"));
      QCOMPARE(ParametersForm(d).ChooseViewerButton().text(), QString("..."));
      QCOMPARE(ParametersForm(d).ChooseFontButton().text(), QString("Выбрать"));
      QVERIFY(!ParametersForm(d).OkButton().isDefault());
      QCOMPARE(ParametersForm(d).BaudBox().count(), 16);
      QCOMPARE(ParametersForm(d).FlowBox().ComProperty(), port::cpFlowControl);
      QVERIFY(ParametersForm(d).PortBox().isEditable());  // any path can be typed
      QVERIFY(!ParametersForm(d).BaudBox().isEditable());

      // The groups and buttons keep the form's arrangement: left to right, top to bottom, no
      // two overlapping, and every caption as wide as its text needs.
      const QWidget* places[] = {&form.ConnectionGroup(), &form.KeyingGroup(), &form.EnterSendsGroup(),
                                 &form.FontGroup(),       &form.ViewerGroup(), &form.OkButton(),
                                 &form.CancelButton()};
      for (const QWidget* a : places)
        for (const QWidget* b : places)
          if (a != b) QVERIFY2(!a->geometry().intersects(b->geometry()), qPrintable(a->objectName()));
      QVERIFY(ParametersForm(d).ConnectionGroup().x() < ParametersForm(d).KeyingGroup().x());
      QVERIFY(ParametersForm(d).EnterSendsGroup().x() < ParametersForm(d).FontGroup().x());
      QVERIFY(ParametersForm(d).ConnectionGroup().y() < ParametersForm(d).EnterSendsGroup().y());
      QVERIFY(ParametersForm(d).ViewerGroup().y() < ParametersForm(d).OkButton().y());
      for (QWidget* w : d.findChildren<QWidget*>()) {
        if (w->window() != &d) continue;
        QString caption;
        int besides = 0;  // what the control draws beside its caption
        if (auto* label = qobject_cast<QLabel*>(w)) caption = label->text();
        if (auto* radio = qobject_cast<QRadioButton*>(w)) caption = radio->text(), besides = 20;
        if (auto* push = qobject_cast<QPushButton*>(w)) caption = push->text(), besides = 4;
        if (auto* group = qobject_cast<QGroupBox*>(w)) caption = group->title(), besides = 8;
        if (caption.isEmpty()) continue;
        const int needed = w->fontMetrics().horizontalAdvance(QString(caption).remove(u'&')) + besides;
        QVERIFY2(w->width() >= needed, qPrintable(w->objectName()));
        QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(w->objectName()));
      }
      ClickCancel(d);
    });
  }

  void focusStartsOnThePortAndTabFollowsTheForm() {
    PortUnderTest p;
    Options o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      d.activateWindow();
      QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&ParametersForm(d).PortBox()));
      QStringList order;
      for (int i = 0; i < 16; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
      }
      // The flow control list is disabled and skipped; a group of radio buttons is one stop
      // (arrows move inside).
      const ParametersForm form(d);
      QStringList expected;
      for (const QWidget* w : std::initializer_list<const QWidget*>{
               &form.BaudBox(), &form.DataBitsBox(), &form.ParityBox(), &form.StopBitsBox(), &form.OkButton(),
               &form.CancelButton(), &form.KeyingDelay(), &form.RtsCtsKeying(), &form.EnterSends(0),
               &form.ViewerField(), &form.ChooseViewerButton(), &form.FontField(), &form.ChooseFontButton(),
               &form.PortBox(), &form.BaudBox(), &form.DataBitsBox()}) {
        // The session log's folder and its chooser follow the font.
        if (w == &form.PortBox()) expected << "SessionLogFolder" << "SessionLogChoose";
        expected << w->objectName();
      }
      expected.resize(16);
      QCOMPARE(order, expected);
      // Enter presses OK only while OK has the focus.
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      QVERIFY(d.isVisible());
      form.OkButton().setFocus();
      QTest::keyClick(&form.OkButton(), Qt::Key_Return);
      QVERIFY(!d.isVisible());
    }));
  }

  void fillingAndOkReturnTheOptions_data() {
    QTest::addColumn<int>("crLfIn");
    QTest::addColumn<int>("txDelayIn");
    QTest::addColumn<int>("rtsIn");
    QTest::addColumn<bool>("pressOk");
    QTest::addColumn<int>("crLfOut");
    QTest::addColumn<int>("txDelayOut");
    QTest::addColumn<int>("rtsOut");
    QTest::newRow("CR LF, delay 40, delayed keying") << 1 << 40 << 0 << true << 1 << 40 << 0;
    QTest::newRow("CrLfMode 7 is 0 at once and after Cancel") << 7 << 0 << 0 << false << 0 << 0 << 0;
    QTest::newRow("CrLfMode -1 shows no choice and comes back") << -1 << 0 << 0 << true << -1 << 0 << 0;
    QTest::newRow("TxDelay 250 shows and returns 100") << 3 << 250 << 0 << true << 3 << 100 << 0;
    QTest::newRow("TxDelay -5 shows and returns 0") << 2 << -5 << 0 << true << 2 << 0 << 0;
    QTest::newRow("RtsCtsMode 5 is RTS/CTS keying, returns 1") << 0 << 20 << 5 << true << 0 << 20 << 1;
  }
  void fillingAndOkReturnTheOptions() {
    QFETCH(int, crLfIn);
    QFETCH(int, txDelayIn);
    QFETCH(int, rtsIn);
    QFETCH(bool, pressOk);
    QFETCH(int, crLfOut);
    QFETCH(int, txDelayOut);
    QFETCH(int, rtsOut);
    PortUnderTest p;
    Options o;
    o.crLfMode = crLfIn;
    o.txDelay = txDelayIn;
    o.rtsCtsMode = rtsIn;
    const bool result = Run(p, o, [&](ParametersDialog& d) {
      // Filling has already corrected an out-of-range mode in the caller's variable.
      QCOMPARE(o.crLfMode, crLfIn > 3 ? 0 : crLfIn);
      const int shownChoice = crLfIn > 3 ? 0 : crLfIn;
      for (int i = 0; i < 4; ++i)
        QCOMPARE(ParametersForm(d).EnterSends(i).isChecked(), i == shownChoice);
      QCOMPARE(ParametersForm(d).KeyingDelay().value(), txDelayOut);
      QCOMPARE(ParametersForm(d).RtsCtsKeying().isChecked(), rtsIn != 0);
      QCOMPARE(ParametersForm(d).DelayedKeying().isChecked(), rtsIn == 0);
      QCOMPARE(ParametersForm(d).KeyingDelay().isEnabled(), rtsIn == 0);
      QCOMPARE(ParametersForm(d).KeyingDelayLabel().isEnabled(), rtsIn == 0);
      QCOMPARE(ParametersForm(d).ViewerField().text(), QString("/usr/bin/less"));
      QCOMPARE(ParametersForm(d).FontField().text(), QString("Courier New,10"));
      pressOk ? ClickOk(d) : ClickCancel(d);
    });
    QCOMPARE(result, pressOk);
    QCOMPARE(o.crLfMode, crLfOut);
    QCOMPARE(o.txDelay, pressOk ? txDelayOut : txDelayIn);
    QCOMPARE(o.rtsCtsMode, pressOk ? rtsOut : rtsIn);
  }

  void keyingModeEnablesTheDelayAndAllowEditTheLineSettings() {
    PortUnderTest p;
    Options o;
    Run(p, o, [&](ParametersDialog& d) {
      QTest::mouseClick(&ParametersForm(d).RtsCtsKeying(), Qt::LeftButton);
      QVERIFY(!ParametersForm(d).KeyingDelay().isEnabled() && !ParametersForm(d).KeyingDelayLabel().isEnabled());
      QTest::mouseClick(&ParametersForm(d).DelayedKeying(), Qt::LeftButton);
      QVERIFY(ParametersForm(d).KeyingDelay().isEnabled() && ParametersForm(d).KeyingDelayLabel().isEnabled());
      QVERIFY(!ParametersForm(d).FlowBox().isEnabled() && !ParametersForm(d).FlowLabel().isEnabled());
      ClickCancel(d);
    });
    Run(p, o, [&](ParametersDialog& d) {
      const ParametersForm form(d);
      for (const QWidget* w : std::initializer_list<const QWidget*>{
               &form.BaudBox(), &form.DataBitsBox(), &form.ParityBox(), &form.StopBitsBox(), &form.FlowBox(),
               &form.BaudLabel(), &form.DataBitsLabel(), &form.ParityLabel(), &form.StopBitsLabel(),
               &form.FlowLabel(), &form.ViewerField(), &form.ChooseViewerButton(), &form.KeyingGroup()})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
      QVERIFY(!form.KeyingDelay().isEnabled());
      for (const QWidget* w : std::initializer_list<const QWidget*>{
               &form.PortBox(), &form.PortLabel(), &form.EnterSendsGroup(), &form.FontField(),
               &form.ChooseFontButton(), &form.OkButton(), &form.CancelButton()})
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
      ClickCancel(d);
    }, /*allowEdit=*/false);
  }

  void okWithoutChangesReappliesTheSameSettingsOnceAndReopensNothing() {
    PortUnderTest p;
    p.port.SetBaudRate(port::br19200);
    p.port.OpenPort();
    p.good->ClearCalls();
    Options o;
    const Options before = o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) { ClickOk(d); }));
    QCOMPARE(p.good->CallNames(), (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
    QVERIFY(p.port.Connected());
    QCOMPARE(p.port.Port(), std::string("GOOD"));
    QCOMPARE(p.port.BaudRate(), port::br19200);
    QCOMPARE(o.txDelay, before.txDelay);
    QCOMPARE(o.crLfMode, before.crLfMode);
    QCOMPARE(o.rtsCtsMode, before.rtsCtsMode);
    QCOMPARE(o.editorPath, before.editorPath);
    QCOMPARE(o.font, before.font);
  }

  void okAppliesThePickedSettingsInOneUpdate() {
    PortUnderTest p;
    p.port.OpenPort();
    p.good->ClearCalls();
    Options o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      Pick(ParametersForm(d).BaudBox(), "57600");
      Pick(ParametersForm(d).DataBitsBox(), "7");
      Pick(ParametersForm(d).ParityBox(), "Even");
      Pick(ParametersForm(d).StopBitsBox(), "2");
      QCOMPARE(p.port.BaudRate(), port::br9600);  // nothing reaches the port before OK
      ClickOk(d);
    }));
    QCOMPARE(p.port.BaudRate(), port::br57600);
    QCOMPARE(p.port.DataBits(), port::dbSeven);
    QCOMPARE(p.port.Parity().Bits(), port::prEven);
    QCOMPARE(p.port.StopBits(), port::sbTwoStopBits);
    QCOMPARE(CountCalls(*p.good, "SetCommState"), 1);
    const auto dcb = p.good->LastDcb();
    QVERIFY(dcb.has_value());
    QCOMPARE(dcb->BaudRate, 57600u);
    QCOMPARE(int(dcb->ByteSize), 7);
  }

  void cancelAfterChangesLeavesPortDeviceAndFontAsTheyWere() {
    PortUnderTest p;
    p.port.OpenPort();
    p.good->ClearCalls();
    Options o;
    const Options before = o;
    QVERIFY(!Run(p, o, [&](ParametersDialog& d) {
      Pick(ParametersForm(d).PortBox(), "OTHER");
      Pick(ParametersForm(d).BaudBox(), "115200");
      QFont serif(QStringLiteral("DejaVu Serif"), 14);
      ChooseInFontDialog(d, serif);
      QCOMPARE(ParametersForm(d).FontField().text(), QString("DejaVu Serif,14"));
      QTest::mouseClick(&ParametersForm(d).RtsCtsKeying(), Qt::LeftButton);
      ClickCancel(d);
    }));
    QCOMPARE(p.port.Port(), std::string("GOOD"));
    QVERIFY(p.port.Connected());
    QCOMPARE(p.port.BaudRate(), port::br9600);
    QVERIFY(p.good->CallNames().empty());
    QVERIFY(p.other->CallNames().empty());
    QCOMPARE(o.font, before.font);
    QCOMPARE(o.rtsCtsMode, before.rtsCtsMode);

    // Esc is Cancel too.
    QVERIFY(!Run(p, o, [&](ParametersDialog& d) {
      Pick(ParametersForm(d).BaudBox(), "300");
      QTest::keyClick(&ParametersForm(d).BaudBox(), Qt::Key_Escape);
      QVERIFY(!d.isVisible());
    }));
    QCOMPARE(p.port.BaudRate(), port::br9600);
    QVERIFY(p.good->CallNames().empty());
  }

  void aFailingReopenUnderANewNamePassesOutWithTheUpdateClosedAndOptionsKept() {
    PortUnderTest p;
    p.port.OpenPort();
    Options o;
    const Options before = o;
    try {
      Run(p, o, [&](ParametersDialog& d) {
        Pick(ParametersForm(d).PortBox(), "BAD");
        Pick(ParametersForm(d).BaudBox(), "1200");
        ParametersForm(d).KeyingDelay().setValue(55);
        QTest::mouseClick(&ParametersForm(d).EnterSends(2), Qt::LeftButton);
        ChooseInFontDialog(d, QFont(QStringLiteral("DejaVu Serif"), 12));
        ClickOk(d);
      });
      QFAIL("OK with a port that cannot be opened returned normally");
    } catch (const port::EComPort& e) {
      QCOMPARE(e.ErrorNumber(), port::kErrOpen);
      QCOMPARE(e.WinErrorCode(), EACCES);
    }
    QCOMPARE(p.port.Port(), std::string("BAD"));
    QVERIFY(!p.port.Connected());
    QCOMPARE(p.port.UpdateCount(), 0);
    QCOMPARE(p.port.BaudRate(), port::br9600);  // written after the port, so never reached
    QCOMPARE(o.txDelay, before.txDelay);
    QCOMPARE(o.crLfMode, before.crLfMode);
    QCOMPARE(o.editorPath, before.editorPath);
    QCOMPARE(o.font, before.font);
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<ParametersDialog*>(w));
  }

  void aPortNameNotInTheListSurvivesOk() {
    PortUnderTest p;
    p.port.SetPort("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    Options o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      QCOMPARE(ParametersForm(d).PortBox().currentIndex(), -1);
      Pick(ParametersForm(d).BaudBox(), "4800");
      ClickOk(d);
    }));
    QCOMPARE(p.port.Port(), std::string("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    QCOMPARE(p.port.BaudRate(), port::br4800);
  }

  // The port field shows the port in use even when the list lacks it, takes a typed name or
  // path, and leaves the port alone when nothing was typed or the field was emptied.
  void portFieldShowsThePortInUseAndTakesATypedPath_data() {
    QTest::addColumn<QString>("typed");  // "-": nothing typed
    QTest::addColumn<QString>("portAfter");
    const QString inUse = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    QTest::newRow("left alone") << "-" << inUse;
    QTest::newRow("a typed path") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("a listed name typed") << "OTHER" << "OTHER";
    QTest::newRow("emptied") << "" << inUse;
    QTest::newRow("blanks around a path") << "  /dev/ttyS1 " << "/dev/ttyS1";
  }
  void portFieldShowsThePortInUseAndTakesATypedPath() {
    QFETCH(QString, typed);
    QFETCH(QString, portAfter);
    PortUnderTest p;
    p.port.SetPort("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    Options o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      auto& box = ParametersForm(d).PortBox();
      QCOMPARE(box.currentText(), QString("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
      if (typed != "-") {
        box.setFocus();
        box.lineEdit()->selectAll();
        QTest::keyClick(box.lineEdit(), Qt::Key_Delete);
        QTest::keyClicks(box.lineEdit(), typed);
      }
      ClickOk(d);
    }));
    QCOMPARE(QString::fromStdString(p.port.Port()), portAfter);
  }

  void aPickedPortIsReopenedUnderItsName() {
    PortUnderTest p;
    p.port.OpenPort();
    Options o;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      Pick(ParametersForm(d).PortBox(), "OTHER");
      ClickOk(d);
    }));
    QCOMPARE(p.port.Port(), std::string("OTHER"));
    QVERIFY(p.port.Connected());
    QVERIFY(!p.good->IsOpen());
    QVERIFY(p.other->IsOpen());
  }

  void fontFieldShowsNameAndSizeAndTheFontDialogOpensAtThatFont() {
    PortUnderTest p;
    Options o;
    o.font.setFamily(QStringLiteral("DejaVu Sans Mono"));  // one the font dialog lists
    o.font.setPointSize(12);
    o.font.setBold(true);
    QFont opened;
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      QCOMPARE(ParametersForm(d).FontField().text(), QString("DejaVu Sans Mono,12"));  // the style is not shown
      // Not confirmed: nothing changes, and the dialog opened at the pane's font.
      ChooseInFontDialog(d, QFont(QStringLiteral("DejaVu Sans"), 20), &opened, /*confirm=*/false);
      QCOMPARE(ParametersForm(d).FontField().text(), QString("DejaVu Sans Mono,12"));
      QCOMPARE(opened.family(), QString("DejaVu Sans Mono"));
      QCOMPARE(opened.pointSize(), 12);
      QVERIFY(opened.bold());
      QFont serif(QStringLiteral("DejaVu Serif"), 14);
      serif.setItalic(true);
      serif.setUnderline(true);
      ChooseInFontDialog(d, serif, &opened);
      QCOMPARE(opened.pointSize(), 12);  // a choice that was cancelled is not where it opens
      QCOMPARE(ParametersForm(d).FontField().text(), QString("DejaVu Serif,14"));
      // Opened again: at the font just chosen.
      ChooseInFontDialog(d, serif, &opened, /*confirm=*/false);
      QCOMPARE(opened.family(), QString("DejaVu Serif"));
      QCOMPARE(opened.pointSize(), 14);
      QVERIFY(opened.italic());
      ClickOk(d);
    }));
    QCOMPARE(o.font.family(), QString("DejaVu Serif"));
    QCOMPARE(o.font.pointSize(), 14);
    QVERIFY(o.font.italic());
    QVERIFY(o.font.underline());
    QVERIFY(!o.font.bold());
    // What the dialog does not edit stays the caller's.
    QCOMPARE(o.font.styleHint(), QFont::TypeWriter);
    QVERIFY(o.font.fixedPitch());
  }

  void viewerProgramIsChosenAmongExecutables() {
    QTemporaryDir folder;
    const QString viewer = folder.filePath("viewer");
    QFile file(viewer);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    PortUnderTest p;
    Options o;
    o.editorPath = folder.filePath("old-viewer");
    QVERIFY(Run(p, o, [&](ParametersDialog& d) {
      WhenShown<QFileDialog>([&](QFileDialog& files) {
        QCOMPARE(files.nameFilters(), QStringList({dialogs::ProgramFileDialog::ProgramsFilter(),
                                                   dialogs::ProgramFileDialog::ExecutablesFilter()}));
        QCOMPARE(files.selectedNameFilter(), dialogs::ProgramFileDialog::ExecutablesFilter());
        QCOMPARE(QDir(files.directory()).canonicalPath(), QDir(folder.path()).canonicalPath());
        files.reject();  // cancelled: nothing changes
      });
      QTest::mouseClick(&ParametersForm(d).ChooseViewerButton(), Qt::LeftButton);
      QCOMPARE(ParametersForm(d).ViewerField().text(), folder.filePath("old-viewer"));
      WhenShown<QFileDialog>([&](QFileDialog& files) {
        files.selectFile(viewer);
        static_cast<QDialog&>(files).accept();  // QFileDialog's own accept, as its Open button
      });
      QTest::mouseClick(&ParametersForm(d).ChooseViewerButton(), Qt::LeftButton);
      QCOMPARE(ParametersForm(d).ViewerField().text(), viewer);
      ClickOk(d);
    }));
    QCOMPARE(o.editorPath, viewer);
  }

  void executablesFilterHidesFilesThatCannotBeRun() {
    QTemporaryDir folder;
    for (const auto& [name, mode] : {std::pair{"viewer", QFile::ReadOwner | QFile::ExeOwner},
                                     std::pair{"notes.txt", QFile::ReadOwner | QFile::WriteOwner}}) {
      QFile file(folder.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.close();
      file.setPermissions(mode);
    }
    dialogs::ProgramFileDialog files(nullptr, folder.filePath("viewer"));
    auto* proxy = files.proxyModel();
    auto* model = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    QVERIFY(model);
    auto shown = [&] {
      QStringList names;
      const QModelIndex root = proxy->mapFromSource(model->index(folder.path()));
      for (int i = 0; i < proxy->rowCount(root); ++i) names << proxy->index(i, 0, root).data().toString();
      names.sort();
      return names;
    };
    QTRY_COMPARE(shown(), QStringList({"viewer"}));
    files.selectNameFilter(dialogs::ProgramFileDialog::ProgramsFilter());
    emit files.filterSelected(dialogs::ProgramFileDialog::ProgramsFilter());
    QTRY_COMPARE(shown(), QStringList());  // neither ends in .exe or .com
  }
};

QTEST_MAIN(TestParametersDialog)
#include "test_parameters_dialog.moc"
