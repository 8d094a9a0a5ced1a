#pragma once
// The port's setting enumerations and sets, in their fixed order (the ordinal is what the
// settings store and the device values derive from).

#include <cstdint>

#include "port/enum_set.h"

namespace velmora::port {

enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TComSettingGroup : uint8_t { sgLine, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgMisc };
enum TLineError : uint8_t { erFrame, erRxParity, erOverrun, erBreak, erIO, erMode, erRxOver, erTxFull };
enum TLineSignal : uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
// Where SaveSettings and RestoreSettings keep a port's settings.
enum TComStoreKind : uint8_t { skRegistry, skIniFile };

using TComEvents = EnumSet<TComEvent>;
using TComErrors = EnumSet<TLineError>;
using TLineSignals = EnumSet<TLineSignal>;
using TComSettingGroups = EnumSet<TComSettingGroup>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

}  // namespace velmora::port
