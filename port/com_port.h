#pragma once
// TCustomComPort / TComPort: one serial device, its settings, and its lifecycle.
//
// The port holds every setting of its device with the defaults of a new port ("COM1", 9600
// baud, 8 data bits, no parity, one stop bit, no flow control, all ten line events), opens the
// device by name through a platform::DeviceDirectory, hands it the queue sizes, the
// device-control block and the timeouts, and closes it again. A setter compares first; a
// changed value is stored and, while the port is open and no settings update is in progress,
// sent to the device at once through the apply operation of its group. `Port` reopens an open
// port; `SyncMethod` is refused while open.
//
// Threads: the port belongs to the thread that made it (the user-interface thread); every
// member runs there. No member takes a lock.
//
// Errors: every failed device call raises EComPort with its table number and the system's
// error number; nothing is retried. A failed open leaves the port closed; a failed re-apply
// leaves it open with the new value stored. An error that no caller can receive (the open that
// follows loading, a close during destruction) goes to the application's error display.
//
// A lost device (an adapter pulled, a pseudo-terminal's far end closed; in general: the monitor's
// event wait fails for a reason other than an abort, or a handler's error meets a device that no
// longer answers) releases the port on the owning thread, from its event loop: the lines are
// reported off, the monitor stops, the device is closed (so the same name can be opened again,
// and a replugged adapter gets its old name back), Connected becomes false, then OnAfterClose and
// OnDeviceLost are called, in that order. OnBeforeClose is not called: nothing can be done on the
// device any more. OnDeviceLost carries the reason as an EComPort (kErrWaitFailed with the
// system's number; Detail() is the operator's sentence): a console shows its closed state in
// OnAfterClose as for any close, tells the operator and starts watching for the device's return
// in OnDeviceLost (Sender.Port() is the name to watch). Without an OnDeviceLost handler one
// message goes to the error display naming the device and saying it is gone. OpenPort works
// again at once.
//
// Overridable operations are virtual and every caller reaches them through the virtual entry:
// CreateDeviceHandle, CloseDeviceHandle, ApplyAllSettings, the emitters, then
// ApplyLineSettings, ApplyTimeoutSettings, ApplyBufferSizes.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/comm_device.h"
#include "platform/device_directory.h"
#include "port/com_settings.h"
#include "port/com_thread.h"
#include "port/com_types.h"
#include "port/port_operation.h"
#include "port/setting_values.h"
#include "port/synchronizer.h"

namespace velmora::port {

class TCustomComPort;
class TComThread;
class IniFile;
class RegistryStore;

// Event handler types; the port passes itself as Sender.
using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int Count)>;
using TRxBufEvent = std::function<void(TCustomComPort& Sender, const void* Buffer, int Count)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
class EComPort;
// The device went away and the port released it; Reason says why (see the header comment).
using TComLostEvent = std::function<void(TCustomComPort& Sender, const EComPort& Reason)>;

// Something that refers to a port without owning it (a selector box) and must let go of it
// when the port is destroyed.
class TPortObserver {
 public:
  // Called from the port's destructor, before the port closes; the port is still whole.
  virtual void PortDestroying(TCustomComPort& port) = 0;

 protected:
  ~TPortObserver() = default;
};

class TCustomComPort : public PortSettingsOwner, private MonitoredPort {
 public:
  explicit TCustomComPort(std::string name = {});
  // Closes an open port first (CloseOnDestruction); an error of that close goes to the error
  // display, and the device is released all the same.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // The name its owner gave it: the section and key its settings are stored under.
  const std::string& Name() const { return name_; }

  // Where port names are opened. Null until set; the first open without one takes
  // platform::DeviceDirectory::Standard().
  const std::shared_ptr<platform::DeviceDirectory>& Directory() const { return directory_; }
  void SetDeviceDirectory(std::shared_ptr<platform::DeviceDirectory> directory);

  // Observers told when this port is destroyed. Adding one twice keeps one entry; an observer
  // that goes first must remove itself.
  void FreeNotification(TPortObserver* observer);
  void RemoveFreeNotification(TPortObserver* observer);

  // --- settings -------------------------------------------------------------------------

  const std::string& Port() const { return port_; }
  // Exact, case-sensitive comparison; on an open port a change closes and reopens at once,
  // also inside a settings update.
  void SetPort(const std::string& value);

  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }  // used only with brCustom
  void SetCustomBaudRate(int32_t value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);

  // The owned setting objects; their setters carry the rules. Set* copies a whole object.
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);

  // Take effect at the next OpenPort (or save and restore); stored only.
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TThreadPriority MonitorPriority() const { return monitorPriority_; }
  void SetMonitorPriority(TThreadPriority value) { monitorPriority_ = value; }
  TComSettingGroups StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TComSettingGroups value) { storedGroups_ = value; }

  TSyncMethod SyncMethod() const { return syncMethod_; }
  // A change while connected raises EComPort kErrConnected and keeps the old value.
  void SetSyncMethod(TSyncMethod value);

  bool Connected() const { return connected_; }
  // true: OpenPort, false: ClosePort. While loading or in design mode: only recorded.
  void SetConnected(bool value);

  // Everything the device-control block is built from, as it stands now.
  LineValues CurrentLineValues() const;

  // --- event slots, empty until assigned ------------------------------------------------

  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnRx80Full;
  TComLostEvent OnDeviceLost;

  // Empties every slot above: whoever assigned handlers that capture themselves calls this
  // before going away, so no delivery reaches them afterwards.
  void ClearHandlers();

  // --- lifecycle --------------------------------------------------------------------------

  // Opens the device named by Port, applies every setting, starts the monitor and reports
  // OnAfterOpen and the three line states. Nothing when already connected or in design mode.
  // On failure the port is closed again and the error propagates.
  void OpenPort();
  // Reports the lines off and OnBeforeClose, aborts pending I/O, stops the monitor, closes the
  // device, reports OnAfterClose. Nothing when not connected. A failed abort (EComPort kErrPurge)
  // ends it there and the port stays open.
  void ClosePort();

  // The open device; null while closed.
  platform::CommDevice* Handle() const { return handle_.get(); }
  // How the open device's driver answered the request for low latency; NotOffered while closed.
  platform::LowLatencyAnswer LowLatency() const {
    return handle_ ? handle_->LowLatency() : platform::LowLatencyAnswer::NotOffered;
  }

  // Settings changes between these reach an open device once, at the last EndSettingsUpdate,
  // as buffer sizes, line settings and timeouts in that order.
  void BeginSettingsUpdate();
  void EndSettingsUpdate();
  int32_t UpdateCount() const { return updateCount_; }

  // While the owner initialises the port from a stored description: setters do not reach the
  // device and SetConnected only records. FinishLoading then opens a port recorded as
  // connected; an error of that open goes to the error display, not to the caller.
  void BeginLoading() { loading_ = true; }
  void FinishLoading();
  bool Loading() const { return loading_; }

  // A port hosted by a designer rather than running never touches a device.
  void SetDesignMode(bool value) { designMode_ = value; }
  bool DesignMode() const { return designMode_; }

  // True while the monitor thread exists.
  bool ThreadCreated() const { return threadCreated_; }

  // Announces the line states: after open (true) each read from the device, before close
  // (false) all off without touching the device.
  void ReportSignals(bool current);

  // --- data path and line control -------------------------------------------------------
  // Each raises EComPort with its number and the system's number when the device call fails
  // (also on a closed port). Text is bytes, one for one.

  // Ends every pending read and write on the device; EComPort kErrPurge on failure.
  void PurgeAll();
  // Bytes waiting; EComPort kErrClearComm. The line errors the query clears on the device are
  // kept for the next ReadLineErrors.
  int InputQueueCount();
  // Those kept and the device's, and clears both; parity only while Parity.Check; 10.
  TComErrors ReadLineErrors();
  TLineSignals LineSignals();      // EComPort kErrModemStatus
  void SetDTRState(bool on);       // EComPort kErrEscapeComm
  void SetRTSState(bool on);       // EComPort kErrEscapeComm

  // Start an overlapped transfer on `operation` (EComPort kErrInvalidAsync without one;
  // kErrWriteFile or kErrReadFile when the device refuses): the bytes moved if it completed at
  // once, else 0 and it goes on. The buffer must stay as it is until WaitForCompletion returns.
  int StartWrite(const void* buffer, int count, TPortOperation* operation);
  int StartWriteText(const std::string& text, TPortOperation* operation);  // nothing for ""
  int StartRead(void* buffer, int count, TPortOperation* operation);
  int StartReadText(std::string& text, int count, TPortOperation* operation);
  // Blocks until the operation completes; the bytes moved (fewer than asked is no error).
  int WaitForCompletion(TPortOperation* operation);
  // Blocking forms: start, then wait.
  int WriteText(const std::string& text);
  int ReadBlock(void* buffer, int count);
  int ReadText(std::string& text, int count);  // text comes back cut to what was read
  // ReadText, with the times the device's I/O thread took the bytes off the line: `times`
  // gets the pieces of `text` by their first position in it (the first at 0) and their arrival
  // time, or nothing from a device that keeps no times.
  int ReadTextTimed(std::string& text, int count, std::vector<platform::ArrivalTime>& times);

  // --- event dispatch -----------------------------------------------------------------------
  // A dispatcher per line event: gathers its argument from the device and calls the emitter.
  void ProcessRxChar();      // only when bytes wait
  void ProcessTxEmpty();
  void ProcessBreak();
  void ProcessRing();
  void ProcessRxFlag();
  void ProcessCTSChange();
  void ProcessDSRChange();
  void ProcessRLSDChange();
  void ProcessError();       // only when the error set is not empty
  void ProcessRx80Full();
  // The dispatcher of `event`, one of the above.
  void ProcessEvent(TComEvent event) override;
  // The window delivery mode's message handler: dispatches one event while connected; other
  // messages and unknown events do nothing; an error goes to the error display.
  void HandlePortMessage(uint32_t message, uint32_t wParam) override;
  // Where the monitor thread hands deliveries to this port's owning thread.
  Synchronizer& Sync() { return *sync_; }
  // The same, for whoever must keep it beyond the port (a delivery may destroy the port).
  const std::shared_ptr<Synchronizer>& SharedSync() const { return sync_; }

  // --- settings store (defined in com_port_settings_store.cpp) ----------------------------

  // Saves the groups in StoredGroups: skIniFile into the INI file at path, section Name();
  // skRegistry under "ROOT\key\path" + "\" + Name() of the registry-style store. Any failure
  // raises EComPort kErrStoreSettings; values already written stay written.
  void SaveSettings(TComStoreKind kind, const std::string& path);
  // Reads them back through the setters inside one settings update, closed also on failure
  // (an open port is reconfigured once, at the end). Any failure raises EComPort
  // kErrLoadSettings; settings read before it keep their new values.
  void RestoreSettings(TComStoreKind kind, const std::string& path);
  // Chooses the root named before the first backslash of path (HKEY_LOCAL_MACHINE or
  // HKEY_CURRENT_USER, any letter case; another name leaves the root as it is) and opens,
  // creating it, the rest of path + "\" + name. Opens nothing when path has no backslash; a
  // key that cannot be opened shows in the reads and writes that follow.
  static void OpenSettingsKey(RegistryStore& registry, const std::string& path,
                              const std::string& name);
  // The folder of the registry-style store skRegistry uses: RegistryStore::DefaultFolder().
  virtual std::filesystem::path RegistryFolder() const;

  virtual void WriteRegistrySettings(RegistryStore& registry);
  virtual void WriteIniSettings(IniFile& ini);
  virtual void ReadRegistrySettings(RegistryStore& registry);
  virtual void ReadIniSettings(IniFile& ini);

  // --- overridable operations -------------------------------------------------------------

  // Opens Port through the directory into Handle; EComPort kErrOpen with the system's number (and
  // the operator's sentence in Detail) when it cannot.
  virtual void CreateDeviceHandle();
  virtual void CloseDeviceHandle();
  // Buffer sizes, line settings, timeouts, in that order.
  virtual void ApplyAllSettings();

  // Each calls its handler when one is assigned.
  virtual void EmitAfterClose();
  virtual void EmitAfterOpen();
  virtual void EmitBeforeClose();
  virtual void EmitBeforeOpen();
  virtual void EmitRxChar(int count);
  virtual void EmitRxBuf(const void* buffer, int count);
  virtual void EmitTxEmpty();
  virtual void EmitBreak();
  virtual void EmitRing();
  virtual void EmitRxFlag();
  virtual void EmitCTSChange(bool on);
  virtual void EmitDSRChange(bool on);
  virtual void EmitError(TComErrors errors);
  virtual void EmitRLSDChange(bool on);
  virtual void EmitRx80Full();

  // The three apply operations do nothing unless the port is connected, no settings update
  // is in progress, and it is neither loading nor in design mode.
  void ApplyLineSettings() override;     // the device-control block; EComPort kErrSetState
  void ApplyTimeoutSettings() override;  // the timeout block; EComPort kErrSetTimeouts
  void ApplyBufferSizes() override;      // the queue sizes; EComPort kErrSetupComm

  // Calls OnDeviceLost when one is assigned.
  virtual void EmitDeviceLost(const EComPort& reason);

 protected:
  // The first steps of destruction: the observers are told, an open port is closed (an error of
  // that close goes to the error display and the device is released all the same). Done once. A
  // base destructor can only reach the base's own close operations, so a class that overrides
  // any of them calls this first thing in its own destructor.
  void CloseOnDestruction() noexcept;
  bool CanApply() const;
  // The open device, or EComPort `errorNumber` with EBADF when there is none.
  platform::CommDevice& DeviceOr(int errorNumber) const;

  // The open device; CreateDeviceHandle fills it, CloseDeviceHandle empties it.
  std::unique_ptr<platform::CommDevice> handle_;

 private:
  // On the owning thread, once the monitor found the device gone (`error`): the close sequence
  // of a lost device.
  void ReleaseLostDevice(int error) override;
  void StartMonitor();
  void StopMonitor();
  void ReleaseAfterFailedClose() noexcept;
  template <typename T>
  void SetLineField(T& field, T value);

  std::string name_;
  std::shared_ptr<platform::DeviceDirectory> directory_;
  std::vector<TPortObserver*> observers_;

  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComParity parity_{this};
  TComFlowControl flowControl_{this};
  TComTimeouts timeouts_{this};
  TComBuffer buffer_{this};
  TComEvents events_ = kAllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  TThreadPriority monitorPriority_ = tpNormal;
  TComSettingGroups storedGroups_{sgLine};

  std::shared_ptr<Synchronizer> sync_ = std::make_shared<Synchronizer>();
  TPortOperationPool operations_;  // for the blocking reads and writes
  std::unique_ptr<TComThread> thread_;
  bool connected_ = false;
  bool threadCreated_ = false;
  // Error word bits an InputQueueCount cleared on the device, for the next ReadLineErrors.
  std::atomic<uint32_t> keptErrorWord_{0};
  // A close is under way: deliveries report no line states. Read by a monitor in smNone.
  std::atomic<bool> closing_{false};
  bool loading_ = false;
  bool designMode_ = false;
  int32_t updateCount_ = 0;
};

// The published form the main window owns; no behaviour of its own.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
  ~TComPort() override { CloseOnDestruction(); }
};

}  // namespace velmora::port
