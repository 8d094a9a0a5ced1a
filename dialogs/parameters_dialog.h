#pragma once
// ParametersDialog: the window in which the operator edits the port's line settings, the RTS
// keying mode and delay, what Enter sends, the viewer program and the transmit pane's font.
//
// The dialog owns no settings: Fill puts the caller's values into its controls, Apply writes
// the edited ones back (the line settings into the port inside one settings update, so an open
// device is reconfigured once). ExecuteParamBox (param_box.h) runs the whole sequence; tests
// may drive the parts. Controls carry the form's names as Qt object names:
//
//   CBPort CBBaud CBData CBParity CBStop CBFlow   portBox_ … flowControlBox_ (Label1 … Label6)
//   RB1, RB2, SE1 (Label8)                       rtsCtsKeyingButton_, delayedKeyingButton_,
//                                                keyingDelaySpin_ (keyingDelayLabel_)
//   RadioGroup1 with RadioGroup1_0 … _3          enterSendsGroup_, enterSendsChoices_
//   Edit1, Button3 / Edit2, Button4              viewerPathField_, chooseViewerButton_ /
//                                                fontField_, chooseFontButton_
//   GroupBox1 … GroupBox4, Button1, Button2      the groups, okButton_, cancelButton_
//   OpenDialog1, FontDialog1                     ProgramFileDialog, fontDialog_
//   RB1Click/RB2Click, Button3Click, Button4Click → OnKeyingModeChosen, ChooseViewerProgram,
//   ChooseFont; EnableDelay → EnableKeyingDelay; FViewerPath, FFont* → viewerPath_, chosenFont_
//
// The port box offers the listed ports with their /dev/serial/by-id names, and takes a typed
// name or path as well; it shows the port in use also when the list lacks it (a
// pseudo-terminal, any path). OK applies the port only when the operator picked one or changed
// the field: a port left alone keeps its name, byte for byte, and an emptied field changes
// nothing.
//
// User-interface thread only. Errors: listing the ports raises out of the constructor (EComPort
// 23); a port that refuses a setting raises out of Apply, after the update is closed, with the
// options and the font left as they were.

#include <cstdint>
#include <optional>

#include <QDialog>
#include <QFont>
#include <QString>

#include "port/com_port.h"

class QButtonGroup;
class QFontDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace velmora::port {
class TComComboBox;
}

namespace velmora::dialogs {

class SessionLogGroup;
class KeyingGroup;
class FrameGapGroup;

class ParametersDialog : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and the selectors' lists; the port list is that of `port`'s directory.
  explicit ParametersDialog(const port::TCustomComPort& port, QWidget* parent = nullptr);
  ~ParametersDialog() override;

  // Binds the selectors to `port` and shows the options. A CrLfMode above 3 is set to 0 in the
  // caller's variable here, whatever the operator does next. Without a font the font field
  // stays empty.
  void Fill(port::TCustomComPort& port, int32_t txDelay, int32_t rtsCtsMode, int32_t& crLfMode,
            const QString& editorPath, const QFont* font, bool allowEdit);
  // Writes the edited values back (the operator pressed OK).
  void Apply(port::TCustomComPort& port, int32_t& txDelay, int32_t& rtsCtsMode, int32_t& crLfMode,
             QString& editorPath, QFont* font);

  // The keyer's group (keying_group.h), below the others across the form, after them in the
  // tab order, enabled as the keying group is and by the keying mode chosen. Called after Fill;
  // the caller reads the group's values after OK.
  KeyingGroup* AddKeyingExtras();
  // The frame view's silence (frame_gap_group.h), beside the session log's folder; call before
  // AddKeyingExtras.
  FrameGapGroup* AddFrameGap();

  // The dialog's own font: "MS Sans Serif" 8 pt, or the system's sans-serif at 8 pt where that
  // family does not exist. Also where the font dialog starts while the font field is empty.
  static QFont FormFont();
  // "name,size", as the font field shows a font.
  static QString FontText(const QString& family, int pointSize);

  // The session log's folder, below the other groups; filled and read by ExecuteParamBox.
  SessionLogGroup& SessionLogFolder() const { return *sessionLogGroup_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Opened over its window near a screen's edge, or on a small screen, it is moved to lie
  // wholly on the screen it opens on.
  void showEvent(QShowEvent* event) override;

 private:
  struct ChosenFont {
    QString family;
    int pointSize = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
  };

  void BuildConnectionGroup();
  void BuildKeyingGroup();
  void BuildEnterGroup();
  void BuildFontGroup();
  void BuildViewerGroup();
  void BuildButtons();
  void SetTabOrder();
  void PlaceGroups();
  void EnableKeyingDelay(bool enabled);
  void OnKeyingModeChosen();
  void ChooseViewerProgram();
  void ChooseFont();
  void TakeFont(const QFont& font);
  // The font the field shows, or the form's font when it shows none.
  QFont CurrentFont() const;
  void ApplyLineSettings(port::TCustomComPort& port);

  QGroupBox* connectionGroup_ = nullptr;
  port::TComComboBox* portBox_ = nullptr;
  port::TComComboBox* baudRateBox_ = nullptr;
  port::TComComboBox* dataBitsBox_ = nullptr;
  port::TComComboBox* parityBox_ = nullptr;
  port::TComComboBox* stopBitsBox_ = nullptr;
  port::TComComboBox* flowControlBox_ = nullptr;
  QLabel* portLabel_ = nullptr;
  QLabel* baudRateLabel_ = nullptr;
  QLabel* dataBitsLabel_ = nullptr;
  QLabel* parityLabel_ = nullptr;
  QLabel* stopBitsLabel_ = nullptr;
  QLabel* flowControlLabel_ = nullptr;

  QGroupBox* keyingGroup_ = nullptr;
  QRadioButton* rtsCtsKeyingButton_ = nullptr;
  QRadioButton* delayedKeyingButton_ = nullptr;
  QLabel* keyingDelayLabel_ = nullptr;
  QSpinBox* keyingDelaySpin_ = nullptr;

  QGroupBox* enterSendsGroup_ = nullptr;
  QButtonGroup* enterSendsChoices_ = nullptr;

  QGroupBox* fontGroup_ = nullptr;
  QLineEdit* fontField_ = nullptr;
  QPushButton* chooseFontButton_ = nullptr;
  QFontDialog* fontDialog_ = nullptr;  // made at the first click, kept for the dialog's life

  KeyingGroup* keyingExtras_ = nullptr;
  FrameGapGroup* frameGap_ = nullptr;
  QGroupBox* viewerGroup_ = nullptr;
  QLineEdit* viewerPathField_ = nullptr;
  QPushButton* chooseViewerButton_ = nullptr;

  SessionLogGroup* sessionLogGroup_ = nullptr;

  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;

  QString viewerPath_;
  std::optional<ChosenFont> chosenFont_;
  bool portPicked_ = false;
  QString shownPortText_;  // what the port field showed when filled
};

}  // namespace velmora::dialogs
