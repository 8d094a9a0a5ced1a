#pragma once
// What the main window's tests share: a temporary per-user configuration folder, a device
// directory of the test's own with the simulated devices it steers, a stand-in sysfs tree (empty
// until a test plugs adapters into it), error boxes and the application's error display recorded
// instead of shown.

#include <memory>
#include <string>

#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStringList>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <QTimer>
#include <QAction>

#include "console/main_window.h"
#include "console/message_presenter.h"
#include "console/receive_pane.h"
#include "console/receive_view.h"
#include "console/status_panels.h"
#include "platform/device_directory.h"
#include "platform/sim/sim_devices.h"
#include "port/error_display.h"
#include "tests/platform/stand_in_sysfs.h"

namespace velmora::console::testing {


class RecordingPresenter final : public MessagePresenter {
 public:
  explicit RecordingPresenter(QStringList* texts) : texts_(texts) {}
  void ShowErrorBox(QWidget*, const QString& text) override { texts_->append(text); }

 private:
  QStringList* texts_;
};

class WindowFixture {
 public:
  WindowFixture() {
    if (!configHome_.isValid()) throw std::runtime_error("no temporary folder");
    // Never the real home: the window finds ZORVA.INI below this folder.
    qputenv("XDG_CONFIG_HOME", configHome_.path().toLocal8Bit());
    previousDisplay_ = port::SetErrorDisplay(
        [this](const std::string& message) { displayed.append(QString::fromStdString(message)); });
  }
  ~WindowFixture() {
    window.reset();
    port::SetErrorDisplay(std::move(previousDisplay_));
    qunsetenv("XDG_CONFIG_HOME");
  }
  WindowFixture(const WindowFixture&) = delete;
  WindowFixture& operator=(const WindowFixture&) = delete;

  QString ConfigHome() const { return configHome_.path(); }
  QString SettingsPath() const { return configHome_.path() + "/Velmora/ZORVA.INI"; }

  void WriteSettings(const QByteArray& content) {
    QDir().mkpath(configHome_.path() + "/Velmora");
    QFile file(SettingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QByteArray ReadSettings() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // The design-time port name "COM1" opens `device`; with none it names no device at all. A test
  // that wrote no settings file starts as an operator who chose COM1 before: the window reads a
  // file naming it, which is gone again once read, so the folder is as the test left it.
  MainWindow& Start(std::shared_ptr<platform::NamedDevice> device = nullptr) {
    return StartWith(std::move(device), std::make_unique<RecordingPresenter>(&boxes));
  }
  // The same with the program's own modal message boxes, which wait for a click.
  MainWindow& StartShowingBoxes(std::shared_ptr<platform::NamedDevice> device = nullptr) {
    return StartWith(std::move(device), nullptr);
  }
  MainWindow& StartOnRadio() {
    radio = platform::sim::RadioLink::Create();
    radio->SetEcho(false);
    return Start(radio->Endpoint());
  }

  // Key presses as the operator's keyboard makes them, one per character.
  void Type(const QString& text) {
    for (QChar c : text) Key(c == u'\r' ? Qt::Key_Return : Qt::Key_unknown, QString(c));
  }
  void Key(Qt::Key key, const QString& text,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(TransmitPane(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(TransmitPane(), &release);
  }

  // The window's widgets by what they do for the operator. Their object names are what scripts
  // and accessibility tools find; only this fixture knows them.
  QPlainTextEdit* TransmitPane() const { return Child<QPlainTextEdit>("Memo1"); }
  ReceiveTextView* ReceiveView() const { return Child<ReceiveTextView>("Memo2"); }
  QTimer* KeyingDelay() const { return Child<QTimer>("Timer1"); }
  // Once a second: the line state words and the status bar's figures.
  QTimer* StateTimer() const { return Child<QTimer>("Timer2"); }
  StatusPanels* StatusBar() const { return Child<StatusPanels>("SB1"); }
  QPushButton* ClearTransmitButton() const { return Child<QPushButton>("Button1"); }
  QPushButton* SendFileButton() const { return Child<QPushButton>("Button5"); }
  QPushButton* ClearReceiveButton() const { return Child<QPushButton>("Button2"); }
  QPushButton* CaptureButton() const { return Child<QPushButton>("Button3"); }
  QPushButton* ViewFileButton() const { return Child<QPushButton>("Button4"); }
  QToolButton* AsciiButton() const { return Child<QToolButton>("SButton1"); }
  QToolButton* HexButton() const { return Child<QToolButton>("SButton2"); }
  QToolButton* BinButton() const { return Child<QToolButton>("SButton3"); }
  // The receive pane's display modes in the order the buttons stand: ASCII, Hex, Bin.
  QList<QToolButton*> ModeButtons() const { return {AsciiButton(), HexButton(), BinButton()}; }
  QAction* StatisticsAction() const { return Child<QAction>("N11"); }
  QAction* ExitAction() const { return Child<QAction>("N7"); }
  QAction* PortSettingsAction() const { return Child<QAction>("N8"); }
  QAction* AboutAction() const { return Child<QAction>("N10"); }
  // What the receive pane holds as it arrived (without the pane's own wrapping), everything
  // received so far included.
  QString ReceivedText() const { return window->ReceiveContent().Text(); }

  // A new user's first start: no settings file at all.
  MainWindow& StartFirstTime() {
    window = std::make_unique<MainWindow>(directory, std::make_unique<RecordingPresenter>(&boxes), nullptr,
                                          sysfs.Root());
    return *window;
  }

  MainWindow& StartWith(std::shared_ptr<platform::NamedDevice> device,
                        std::unique_ptr<MessagePresenter> presenter) {
    if (device) directory->Add("COM1", std::move(device));
    const bool chosenBefore = !QFile::exists(SettingsPath());
    if (chosenBefore) WriteSettings("[ComPort1]\nPort=COM1\n");
    window = std::make_unique<MainWindow>(directory, std::move(presenter), nullptr, sysfs.Root());
    if (chosenBefore) QFile::remove(SettingsPath());
    return *window;
  }

  std::shared_ptr<platform::DeviceDirectory> directory =
      std::make_shared<platform::DeviceDirectory>();
  std::shared_ptr<platform::sim::RadioLink> radio;
  // Where the window reads the serial adapters present and what they are.
  test::StandInSysfs sysfs;
  std::unique_ptr<MainWindow> window;
  QStringList boxes;      // texts of the window's error boxes
  QStringList displayed;  // messages that reached the application's error display

 private:
  template <typename T>
  T* Child(const char* name) const {
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    if (!child) throw std::runtime_error(std::string("no child named ") + name);
    return child;
  }

  QTemporaryDir configHome_;
  port::ErrorDisplay previousDisplay_;
};

// The RTS changes the simulated radio modem saw, as "+" and "-".
inline QString RtsHistory(const platform::sim::RadioLink& radio) {
  QString history;
  for (const platform::sim::LineChange& change : radio.LineLog())
    if (change.line == platform::sim::LineChange::Rts) history += change.on ? u'+' : u'-';
  return history;
}

// What the radio's far station heard.
inline QByteArray Heard(const platform::sim::RadioLink& radio) {
  return QByteArray::fromStdString(radio.Heard());
}

}  // namespace velmora::console::testing
