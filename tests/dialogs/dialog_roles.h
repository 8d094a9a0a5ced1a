#pragma once
// The dialogs' controls by what they do for the operator. Each form keeps the object names its
// scripts and accessibility tools find; only this header knows them, so a test says "the baud
// rate list", never "CBBaud". A missing control throws, naming the form's name it looked for.

#include <stdexcept>
#include <string>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>

#include "port/qt/com_combo_box.h"

namespace velmora::dialogs::testing {

template <typename T>
T& NamedControl(const QWidget& form, const char* name) {
  T* control = form.findChild<T*>(QString::fromLatin1(name));
  if (!control) throw std::runtime_error(std::string("no control named ") + name);
  return *control;
}

// The port settings ("Параметры"), as opened from the window's menu or by ExecuteParamBox.
class ParametersForm {
 public:
  explicit ParametersForm(const QWidget& dialog) : d_(dialog) {}

  port::TComComboBox& PortBox() const { return Get<port::TComComboBox>("CBPort"); }
  port::TComComboBox& BaudBox() const { return Get<port::TComComboBox>("CBBaud"); }
  port::TComComboBox& DataBitsBox() const { return Get<port::TComComboBox>("CBData"); }
  port::TComComboBox& ParityBox() const { return Get<port::TComComboBox>("CBParity"); }
  port::TComComboBox& StopBitsBox() const { return Get<port::TComComboBox>("CBStop"); }
  port::TComComboBox& FlowBox() const { return Get<port::TComComboBox>("CBFlow"); }
  QLabel& PortLabel() const { return Get<QLabel>("Label1"); }
  QLabel& BaudLabel() const { return Get<QLabel>("Label2"); }
  QLabel& DataBitsLabel() const { return Get<QLabel>("Label3"); }
  QLabel& ParityLabel() const { return Get<QLabel>("Label4"); }
  QLabel& StopBitsLabel() const { return Get<QLabel>("Label5"); }
  QLabel& FlowLabel() const { return Get<QLabel>("Label6"); }

  QRadioButton& RtsCtsKeying() const { return Get<QRadioButton>("RB1"); }
  QRadioButton& DelayedKeying() const { return Get<QRadioButton>("RB2"); }
  QSpinBox& KeyingDelay() const { return Get<QSpinBox>("SE1"); }
  QLabel& KeyingDelayLabel() const { return Get<QLabel>("Label8"); }
  QLabel& KeyingNoteFirstLine() const { return Get<QLabel>("Label7"); }
  QLabel& KeyingNoteSecondLine() const { return Get<QLabel>("Label9"); }

  // What Enter sends: 0 nothing, 1 CR-LF, 2 CR, 3 LF.
  QRadioButton& EnterSends(int choice) const {
    const std::string name = "RadioGroup1_" + std::to_string(choice);
    return Get<QRadioButton>(name.c_str());
  }
  QLineEdit& FontField() const { return Get<QLineEdit>("Edit2"); }
  QPushButton& ChooseFontButton() const { return Get<QPushButton>("Button4"); }
  QLineEdit& ViewerField() const { return Get<QLineEdit>("Edit1"); }
  QPushButton& ChooseViewerButton() const { return Get<QPushButton>("Button3"); }
  QPushButton& OkButton() const { return Get<QPushButton>("Button1"); }
  QPushButton& CancelButton() const { return Get<QPushButton>("Button2"); }

  QGroupBox& ConnectionGroup() const { return Get<QGroupBox>("GroupBox1"); }
  QGroupBox& KeyingGroup() const { return Get<QGroupBox>("GroupBox2"); }
  QGroupBox& EnterSendsGroup() const { return Get<QGroupBox>("RadioGroup1"); }
  QGroupBox& FontGroup() const { return Get<QGroupBox>("GroupBox4"); }
  QGroupBox& ViewerGroup() const { return Get<QGroupBox>("GroupBox3"); }

 private:
  template <typename T>
  T& Get(const char* name) const { return NamedControl<T>(d_, name); }
  const QWidget& d_;
};

// "Статистика": the counters of received and sent bytes and of errors.
class StatisticsForm {
 public:
  explicit StatisticsForm(const QWidget& dialog) : d_(dialog) {}

  QLabel& ReceivedFigure() const { return Get<QLabel>("LRxCnt"); }
  QLabel& TransmittedFigure() const { return Get<QLabel>("LTxCnt"); }
  QLabel& PortErrorsFigure() const { return Get<QLabel>("LComError"); }
  QLabel& OverflowsFigure() const { return Get<QLabel>("LBufError"); }
  QLabel& ReceivedCaption() const { return Get<QLabel>("Label1"); }
  QLabel& TransmittedCaption() const { return Get<QLabel>("Label2"); }
  QLabel& PortErrorsCaption() const { return Get<QLabel>("Label3"); }
  QLabel& OverflowsCaption() const { return Get<QLabel>("Label4"); }
  QGroupBox& DataGroup() const { return Get<QGroupBox>("GroupBox1"); }
  QGroupBox& ErrorsGroup() const { return Get<QGroupBox>("GroupBox2"); }
  QPushButton& ClearButton() const { return Get<QPushButton>("Button1"); }
  QPushButton& CloseButton() const { return Get<QPushButton>("Button2"); }

 private:
  template <typename T>
  T& Get(const char* name) const { return NamedControl<T>(d_, name); }
  const QWidget& d_;
};

// "О программе Velmora".
class AboutForm {
 public:
  explicit AboutForm(const QWidget& dialog) : d_(dialog) {}

  QLabel& Emblem() const { return Get<QLabel>("Image1"); }
  QLabel& ProgramName() const { return Get<QLabel>("Label1"); }
  QLabel& Version() const { return Get<QLabel>("Label2"); }
  // The description, a line each: what the program is for, and the two kinds of modems.
  QLabel& PurposeFirstLine() const { return Get<QLabel>("Label5"); }
  QLabel& PurposeSecondLine() const { return Get<QLabel>("Label6"); }
  QLabel& ModemsHeading() const { return Get<QLabel>("Label7"); }
  QLabel& LeasedLineModems() const { return Get<QLabel>("Label8"); }
  QLabel& RadioModems() const { return Get<QLabel>("Label9"); }
  QPushButton& OkButton() const { return Get<QPushButton>("Button1"); }

 private:
  template <typename T>
  T& Get(const char* name) const { return NamedControl<T>(d_, name); }
  const QWidget& d_;
};

}  // namespace velmora::dialogs::testing
