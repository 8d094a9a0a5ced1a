// The selector's drop-down list as a widget: the operator's keyboard, tooltips, a port that
// goes away under it, and an error while a choice is applied.
#include "port/qt/com_combo_box.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include <QTemporaryDir>
#include <QtTest>

#include "port/error_display.h"
#include "tests/support/fake_device.h"

using namespace velmora;
using port::TComComboBox;

namespace {

struct Ports {
  std::shared_ptr<test::FakeDevice> first = std::make_shared<test::FakeDevice>();
  std::shared_ptr<test::FakeDevice> refusing = std::make_shared<test::FakeDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  QTemporaryDir noTtys;  // the machine's own serial ports stay out of the list

  Ports() {
    directory->Add("FIRST", first, "the first test line");
    directory->Add("REFUSING", refusing);
    refusing->Fail("Open", EACCES);
  }
};

}  // namespace

class TestComComboBox : public QObject {
  Q_OBJECT

 private slots:
  void theOperatorsKeysApplyWithAutoApplyAndCodeSelectionDoesNot() {
    port::TComPort port("ComPort1");
    TComComboBox box;
    box.SetComProperty(port::cpDataBits);
    box.SetComPort(&port);
    QCOMPARE(box.currentText(), QString("8"));
    int changes = 0;
    box.OnChange = [&](TComComboBox&) { ++changes; };

    box.SetAutoApply(true);
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(box.currentText(), QString("7"));
    QCOMPARE(port.DataBits(), port::dbSeven);
    QCOMPARE(changes, 1);

    box.SetAutoApply(false);
    QTest::keyClick(&box, Qt::Key_Home);
    QCOMPARE(box.Text(), std::string("5"));
    QCOMPARE(port.DataBits(), port::dbSeven);
    box.ApplyToPort();
    QCOMPARE(port.DataBits(), port::dbFive);
    QCOMPARE(changes, 2);

    box.setCurrentIndex(2);
    box.SetText("8");
    QCOMPARE(box.currentText(), QString("8"));
    QCOMPARE(changes, 2);
    box.ApplyToPort();  // the stored value is still the last one picked
    QCOMPARE(port.DataBits(), port::dbFive);
    port.SetDataBits(port::dbSix);
    box.UpdateFromPort();
    QCOMPARE(box.currentText(), QString("6"));
  }

  void portItemsCarryWhatIsKnownOfTheirDevice() {
    Ports ports;
    port::TComPort port("ComPort1");
    port.SetDeviceDirectory(ports.directory);
    port.SetPort("refusing");
    TComComboBox box;
    box.Selector().SetPortSource(ports.directory, ports.noTtys.path().toStdString());
    box.SetComPort(&port);
    box.SetComProperty(port::cpPort);
    const int first = box.findText("FIRST");
    const int refusing = box.findText("REFUSING");
    QVERIFY(first >= 0 && refusing >= 0);
    QCOMPARE(box.itemData(first, Qt::ToolTipRole).toString(), QString("the first test line"));
    QCOMPARE(box.itemData(refusing, Qt::ToolTipRole).toString(), QString("Имитируемое устройство"));
    QCOMPARE(box.currentIndex(), refusing);  // letter case not regarded
  }

  // The operator reads the tooltips in the window's language; a pseudo-terminal typed as the
  // port is described as well.
  void tooltipsOfTheStandardDevicesAreRussian() {
    QTemporaryDir noTtys;
    TComComboBox box;
    box.Selector().SetPortSource(platform::DeviceDirectory::Standard(), noTtys.path().toStdString());
    box.SetComProperty(port::cpPort);
    QCOMPARE(box.count(), 2);
    for (int i = 0; i < box.count(); ++i) {
      const QString tip = box.itemData(i, Qt::ToolTipRole).toString();
      QVERIFY2(std::any_of(tip.begin(), tip.end(), [](QChar c) { return c.unicode() >= 0x0410 && c.unicode() <= 0x044F; }),
               qPrintable(box.itemText(i) + ": " + tip));
    }
  }

  void aDestroyedPortLeavesTheBoxOnItsFirstItem() {
    auto port = std::make_unique<port::TComPort>("ComPort1");
    port->SetBaudRate(port::br57600);
    TComComboBox box;
    box.SetComProperty(port::cpBaudRate);
    box.SetComPort(port.get());
    QCOMPARE(box.currentText(), QString("57600"));
    port.reset();
    QCOMPARE(box.ComPort(), nullptr);
    QCOMPARE(box.currentIndex(), 0);
    QTest::keyClick(&box, Qt::Key_Down);  // nothing to apply to, nothing dangling
    QCOMPARE(box.currentText(), QString("110"));
  }

  void anErrorWhileAChoiceIsAppliedGoesToTheErrorDisplay() {
    Ports ports;
    port::TComPort port("ComPort1");
    port.SetDeviceDirectory(ports.directory);
    port.SetPort("FIRST");
    port.SetEvents({});
    port.OpenPort();
    TComComboBox box;
    box.Selector().SetPortSource(ports.directory, ports.noTtys.path().toStdString());
    box.SetComProperty(port::cpPort);
    box.SetComPort(&port);
    box.SetAutoApply(true);
    QStringList shown;
    auto previous = port::SetErrorDisplay([&](const std::string& m) { shown << QString::fromStdString(m); });
    QTest::keyClick(&box, Qt::Key_End);  // REFUSING is the last of the two
    port::SetErrorDisplay(std::move(previous));
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.front().contains(QString::number(EACCES)), qPrintable(shown.front()));
    QCOMPARE(port.Port(), std::string("REFUSING"));
    QVERIFY(!port.Connected());
  }
};

QTEST_MAIN(TestComComboBox)
#include "test_com_combo_box.moc"
