// The keyer's states and transitions, on a manual clock: each row gives the settings and the
// events in order, and what the keyer did to the line (with the time of each act) and the state
// it ended in.
#include "console/keyer.h"

#include <set>

#include <QtTest>

#include "platform/clock.h"

using namespace velmora;
using console::Keyer;
using console::KeyerAbandon;
using console::KeyerSettings;

namespace {

// Records what the keyer does as "act@ms", separated by spaces: H and L the RTS level, W(bytes)
// a write, X the driver's queue discarded, A(why,n) bytes abandoned, B+/B- the busy channel.
// With `device` set the device keeps the times it can: G(lead[,cts]) output held, R released,
// N the held bytes on their way, T(tail) RTS to drop after the drain, C that taken back.
class Recorder final : public console::KeyerOutput {
 public:
  explicit Recorder(platform::ManualClock& clock) : clock_(clock) {}

  void SetRtsLevel(bool high) override { Log(high ? "H" : "L"); }
  int Write(const std::string& bytes) override {
    Log("W(" + QString::fromStdString(bytes) + ")");
    return static_cast<int>(bytes.size());
  }
  void DiscardOutput() override { Log("X"); }
  void ArmTimer(platform::Clock::TimePoint at) override { armed = at; }
  void DisarmTimer() override { armed.reset(); }
  void KeyingChanged(bool, bool) override {}
  void Abandoned(KeyerAbandon why, size_t dropped) override {
    const char* name = why == KeyerAbandon::CtsWait ? "cts" : why == KeyerAbandon::BusyWait ? "busy" : "timeout";
    Log(QStringLiteral("A(%1,%2)").arg(name).arg(dropped));
  }
  void ChannelBusy(bool busy) override { Log(busy ? "B+" : "B-"); }
  std::optional<bool> CarrierNow() override { return carrier; }
  std::optional<bool> CtsNow() override { return cts; }
  std::optional<bool> TransmittingNow() override { return transmitting; }
  bool HoldOutput(std::chrono::milliseconds lead, bool untilCts) override {
    if (!device) return false;
    Log(QStringLiteral("G(%1%2)").arg(lead.count()).arg(untilCts ? ",cts" : ""));
    return true;
  }
  void ReleaseOutput() override {
    if (device) Log("R");
  }
  bool SetRtsAfterDrain(std::chrono::milliseconds tail, bool) override {
    if (!device) return false;
    droppedRts = false;
    Log(QStringLiteral("T(%1)").arg(tail.count()));
    return true;
  }
  bool CancelRtsAfterDrain() override {
    Log("C");
    return !std::exchange(droppedRts, false);
  }
  void HeldOutputReleased() override { Log("N"); }

  bool device = false;
  bool droppedRts = false;  // the device has dropped RTS at the tail's end
  std::optional<bool> carrier;  // the device's present DCD; unknown unless a test sets it
  std::optional<bool> cts;      // and CTS
  std::optional<bool> transmitting;  // and whether written bytes are still going out
  std::optional<platform::Clock::TimePoint> armed;
  QStringList log;

 private:
  void Log(const QString& act) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now().time_since_epoch());
    log << QStringLiteral("%1@%2").arg(act).arg(ms.count());
  }
  platform::ManualClock& clock_;
};

struct Rig {
  explicit Rig(KeyerSettings s, uint32_t seed = 1)
      : settings(s), out(clock), keyer(clock, out, [this] { return settings; }, seed) {}

  // Moves the clock `ms` on, firing the timer at each deadline it passes, at that deadline.
  void Wait(int ms) {
    const auto until = clock.Now() + std::chrono::milliseconds(ms);
    while (out.armed && *out.armed <= until) {
      clock.Advance(*out.armed - clock.Now());
      keyer.TimerExpired();
    }
    clock.Advance(until - clock.Now());
  }

  // Steps: "s:text" bytes, "S:text" bytes ending the transmission (as Enter), E transmit-empty,
  // c+ c- CTS, d+ d- DCD, wN N ms on, vN N ms on with the timer late (not fired), r reconfigured,
  // f forgotten (device lost), D the device dropped RTS at a tail's end, C+ C- CTS in the device
  // with its event still on its way, t+ t- written bytes still going out or all gone.
  void Run(const QString& script) {
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
      if (step.startsWith("s:") || step.startsWith("S:"))
        keyer.Send(step.mid(2).replace("\\r", "\r").toStdString(), step[0] == u'S');
      else if (step == "E")
        keyer.TransmitEmpty();
      else if (step == "c+" || step == "c-")
        keyer.Cts(step[1] == u'+');
      else if (step == "d+" || step == "d-")
        keyer.Dcd(step[1] == u'+');
      else if (step[0] == u'w')
        Wait(step.mid(1).toInt());
      else if (step[0] == u'v')
        clock.Advance(std::chrono::milliseconds(step.mid(1).toInt()));
      else if (step == "D")
        out.droppedRts = true;
      else if (step == "C+" || step == "C-")
        out.cts = step[1] == u'+';
      else if (step == "t+" || step == "t-")
        out.transmitting = step[1] == u'+';
      else if (step == "r")
        keyer.Reconfigured(true);
      else if (step == "f")
        keyer.Forget();
      else
        QTest::qFail(qPrintable("unknown step " + step), __FILE__, __LINE__);
    }
  }

  KeyerSettings settings;
  platform::ManualClock clock;
  Recorder out;
  Keyer keyer;
};

KeyerSettings RtsCts() {
  KeyerSettings s;
  s.rtsCtsMode = true;
  return s;
}

KeyerSettings Delay(int ms) {
  KeyerSettings s;
  s.keyingDelayMs = ms;
  return s;
}

KeyerSettings With(KeyerSettings s, int32_t KeyerSettings::* field, int32_t value) {
  s.*field = value;
  return s;
}

const char* StateName(Keyer::State state) {
  static const char* const names[] = {"Idle", "Lockout", "Busy", "Backoff", "Lead", "Cts", "Keyed", "Tail"};
  return names[static_cast<int>(state)];
}

}  // namespace

Q_DECLARE_METATYPE(KeyerSettings)

class TestKeyer : public QObject {
  Q_OBJECT

 private slots:
  void table_data() {
    QTest::addColumn<KeyerSettings>("settings");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("acts");
    QTest::addColumn<QString>("state");
    KeyerSettings inverted = RtsCts();
    inverted.rtsInvert = true;
    KeyerSettings lockout = With(With(Delay(0), &KeyerSettings::timeoutS, 1), &KeyerSettings::lockoutS, 2);
    KeyerSettings busy = With(Delay(0), &KeyerSettings::busyWaitMs, 1000);
    KeyerSettings ctsLead = With(With(RtsCts(), &KeyerSettings::ctsWaitMs, 100), &KeyerSettings::leadMs, 20);

    // The two modes as they have always been.
    QTest::newRow("RTS/CTS: a burst per keying") << RtsCts() << "s:a E s:b E"
                                                 << "H@0 W(a)@0 L@0 H@0 W(b)@0 L@0" << "Idle";
    QTest::newRow("delay: held, then until Enter")
        << Delay(50) << "s:a w49 s:b w1 E s:c S:\\r E" << "H@0 W(ab)@50 W(c)@50 W(\r)@50 L@50" << "Idle";
    QTest::newRow("delay of 10 counts as none") << Delay(10) << "s:a E" << "H@0 W(a)@0" << "Keyed";
    QTest::newRow("delay: Enter during the delay ends after it")
        << Delay(30) << "S:a\\r s:b w30 E" << "H@0 W(a\rb)@30 L@30" << "Idle";
    QTest::newRow("Enter sending nothing ends at the next burst's end")
        << Delay(0) << "s:a E S: s:b E" << "H@0 W(a)@0 W(b)@0 L@0" << "Idle";
    QTest::newRow("a late transmit-empty leaves the delay's bytes keyed")
        << Delay(40) << "s:a E w40" << "H@0 W(a)@40" << "Keyed";
    QTest::newRow("reconfigured while keyed: the delay again")
        << Delay(50) << "s:a w50 r s:b w49 w1" << "H@0 W(a)@50 H@50 W(b)@100" << "Keyed";
    QTest::newRow("device lost: nothing held goes out") << Delay(50) << "s:a f w60" << "H@0" << "Idle";
    // The event of one burst read only after the next was written must not cut that one off.
    QTest::newRow("RTS/CTS: an earlier burst's transmit-empty read late")
        << RtsCts() << "s:a w1 t+ s:b E w2 t- E" << "H@0 W(a)@0 W(b)@1 L@3" << "Idle";
    QTest::newRow("delay: an earlier transmit-empty read after Enter")
        << Delay(0) << "s:a t+ S:\\r E w1 t- E" << "H@0 W(a)@0 W(\r)@0 L@1" << "Idle";

    // Lead and tail.
    QTest::newRow("lead in RTS/CTS mode") << With(RtsCts(), &KeyerSettings::leadMs, 20) << "s:a w19 s:b w1 E"
                                          << "H@0 W(ab)@20 L@20" << "Idle";
    QTest::newRow("tail in RTS/CTS mode") << With(RtsCts(), &KeyerSettings::tailMs, 30) << "s:a E w29 w1"
                                          << "H@0 W(a)@0 L@30" << "Idle";
    QTest::newRow("a burst in the tail keeps the keying")
        << With(RtsCts(), &KeyerSettings::tailMs, 30) << "s:a E w10 s:b E w30" << "H@0 W(a)@0 W(b)@10 L@40"
        << "Idle";
    QTest::newRow("tail in delay mode after Enter")
        << With(Delay(0), &KeyerSettings::tailMs, 25) << "s:a E S:\\r E w25" << "H@0 W(a)@0 W(\r)@0 L@25"
        << "Idle";

    // Waiting for CTS.
    QTest::newRow("CTS comes") << With(RtsCts(), &KeyerSettings::ctsWaitMs, 100) << "s:a w40 s:b c+ E"
                               << "H@0 W(ab)@40 L@40" << "Idle";
    QTest::newRow("CTS already on") << With(RtsCts(), &KeyerSettings::ctsWaitMs, 100) << "c+ s:a E"
                                    << "H@0 W(a)@0 L@0" << "Idle";
    QTest::newRow("CTS never comes") << With(RtsCts(), &KeyerSettings::ctsWaitMs, 100) << "s:a s:bc w100"
                                     << "H@0 L@100 A(cts,3)@100" << "Idle";
    QTest::newRow("CTS waited for after the lead") << ctsLead << "c+ s:a w20 E" << "H@0 W(a)@20 L@20" << "Idle";
    QTest::newRow("CTS wait counted from keying") << ctsLead << "s:a w20 w80" << "H@0 L@100 A(cts,1)@100"
                                                  << "Idle";
    QTest::newRow("CTS read afresh: its drop's event still on its way")
        << With(RtsCts(), &KeyerSettings::ctsWaitMs, 100) << "c+ s:a E C- s:b w100"
        << "H@0 W(a)@0 L@0 H@0 L@100 A(cts,1)@100" << "Idle";
    QTest::newRow("CTS is not waited for in delay mode")
        << With(Delay(0), &KeyerSettings::ctsWaitMs, 100) << "s:a" << "H@0 W(a)@0" << "Keyed";

    // The busy channel (back-off 0 here; its randomness has a test of its own).
    QTest::newRow("free channel: at once") << busy << "s:a" << "H@0 W(a)@0" << "Keyed";
    QTest::newRow("busy, then free") << busy << "d+ s:a w100 s:b S:\\r d- E"
                                     << "B+@0 B-@100 H@100 W(ab\r)@100 L@100" << "Idle";
    QTest::newRow("busy too long") << busy << "d+ s:a w500 s:b w500" << "B+@0 B-@1000 A(busy,2)@1000"
                                   << "Idle";
    QTest::newRow("DCD ignored without a wait") << Delay(0) << "d+ s:a" << "H@0 W(a)@0" << "Keyed";
    QTest::newRow("busy back again in the back-off")
        << With(busy, &KeyerSettings::busyBackoffMs, 50) << "d+ s:a w100 d- w5 d+ w895"
        << "B+@0 B-@1000 A(busy,1)@1000" << "Idle";

    // The transmitter time-out.
    QTest::newRow("time-out in delay mode held until Enter")
        << With(Delay(0), &KeyerSettings::timeoutS, 1) << "s:a E w999 s:b w1 s:c"
        << "H@0 W(a)@0 W(b)@999 L@1000 X@1000 A(timeout,0)@1000 H@1000 W(c)@1000" << "Keyed";
    QTest::newRow("time-out drops what waits for the delay")
        << With(Delay(50), &KeyerSettings::timeoutS, 1) << "s:a w960 r s:bc w40"
        << "H@0 W(a)@50 H@960 L@1000 X@1000 A(timeout,2)@1000" << "Idle";
    QTest::newRow("lock-out holds the next keying")
        << lockout << "s:a w1000 s:b w1999 S:\\r w1 E" << "H@0 W(a)@0 L@1000 X@1000 A(timeout,0)@1000 H@3000 W(b\r)@3000 L@3000"
        << "Idle";
    QTest::newRow("a new keying has its own time") << With(RtsCts(), &KeyerSettings::timeoutS, 1)
                                                   << "s:a E w900 s:b E w900" << "H@0 W(a)@0 L@0 H@900 W(b)@900 L@900"
                                                   << "Idle";

    // Inverted RTS.
    QTest::newRow("RTS low keys") << inverted << "s:a E" << "L@0 W(a)@0 H@0" << "Idle";
  }
  void table() {
    QFETCH(KeyerSettings, settings);
    QFETCH(QString, script);
    QFETCH(QString, acts);
    QFETCH(QString, state);
    Rig rig(settings);
    rig.Run(script);
    QCOMPARE(rig.out.log.join(u' '), acts);
    QCOMPARE(QString(StateName(rig.keyer.CurrentState())), state);
    // Only a state that waits for a time, or a raised RTS with a time-out, leaves the timer armed.
    if (!rig.out.armed) QVERIFY(rig.keyer.CurrentState() == Keyer::State::Idle || rig.keyer.CurrentState() == Keyer::State::Keyed);
  }

  // Where the device keeps the lead, the CTS wait and the tail, the bytes go to it at once and
  // the keyer follows, a little later, without writing them twice or dropping RTS on its own.
  void deviceTimed_data() {
    QTest::addColumn<KeyerSettings>("settings");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("acts");
    QTest::addColumn<QString>("state");
    const KeyerSettings lead = With(RtsCts(), &KeyerSettings::leadMs, 20);
    const KeyerSettings cts = With(RtsCts(), &KeyerSettings::ctsWaitMs, 100);
    const KeyerSettings tail = With(RtsCts(), &KeyerSettings::tailMs, 30);
    QTest::newRow("lead: the bytes wait in the device")
        << lead << "s:a w5 s:b w15 E" << "H@0 G(20)@0 W(a)@0 W(b)@5 R@20 N@20 L@20" << "Idle";
    QTest::newRow("lead: the transmit-empty before the keyer's timer")
        << lead << "s:a v25 E" << "H@0 G(20)@0 W(a)@0 R@25 N@25 L@25" << "Idle";
    QTest::newRow("CTS: comes") << cts << "s:a w40 c+ E" << "H@0 G(0,cts)@0 W(a)@0 R@40 N@40 L@40" << "Idle";
    QTest::newRow("CTS: on in the device, its event late")
        << cts << "s:a w99 C+ w1" << "H@0 G(0,cts)@0 W(a)@0 R@100 N@100" << "Keyed";
    QTest::newRow("CTS: never comes, the device's bytes purged")
        << cts << "s:a s:b w100" << "H@0 G(0,cts)@0 W(a)@0 W(b)@0 X@100 R@100 L@100 A(cts,2)@100" << "Idle";
    QTest::newRow("tail: dropped by the device, the keyer follows")
        << tail << "s:a E w30" << "H@0 T(30)@0 W(a)@0 C@30 L@30" << "Idle";
    QTest::newRow("tail: a burst in it stays keyed")
        << tail << "s:a E w10 s:b" << "H@0 T(30)@0 W(a)@0 C@10 T(30)@10 W(b)@10" << "Keyed";
    QTest::newRow("tail: bytes after the device ended it key afresh")
        << tail << "s:a D s:b" << "H@0 T(30)@0 W(a)@0 C@0 H@0 T(30)@0 W(b)@0" << "Keyed";
    QTest::newRow("tail in delay mode: armed by Enter")
        << With(Delay(0), &KeyerSettings::tailMs, 25) << "s:a S:\\r E w25" << "H@0 W(a)@0 T(25)@0 W(\r)@0 C@25 L@25"
        << "Idle";
  }
  void deviceTimed() {
    QFETCH(KeyerSettings, settings);
    QFETCH(QString, script);
    QFETCH(QString, acts);
    QFETCH(QString, state);
    Rig rig(settings);
    rig.out.device = true;
    rig.Run(script);
    QCOMPARE(rig.out.log.join(u' '), acts);
    QCOMPARE(QString(StateName(rig.keyer.CurrentState())), state);
  }

  // A timer that wakes before the deadline changes nothing but its own arming.
  void earlyWakeWaitsOutTheRest() {
    Rig rig(Delay(50));
    rig.Run("s:a");
    rig.clock.Advance(std::chrono::microseconds(49'900));
    rig.keyer.TimerExpired();
    QCOMPARE(rig.out.log.join(u' '), QString("H@0"));
    QVERIFY(rig.out.armed);
    rig.Run("w1");
    QCOMPARE(rig.out.log.join(u' '), QString("H@0 W(a)@50"));
  }

  // A carrier whose event has not arrived yet still holds off a keying, at the first key and at
  // the back-off's end.
  void carrierIsReadAfreshBeforeKeying() {
    KeyerSettings s = With(Delay(0), &KeyerSettings::busyWaitMs, 1000);
    s.busyBackoffMs = 50;
    Rig rig(s);
    rig.out.carrier = true;
    rig.Run("s:a");
    QCOMPARE(rig.keyer.CurrentState(), Keyer::State::Busy);
    rig.out.carrier = false;
    rig.Run("d- w1");
    QCOMPARE(rig.keyer.CurrentState(), Keyer::State::Backoff);
    rig.out.carrier = true;  // back before the back-off ends, its event late
    rig.Run("w50");
    QCOMPARE(rig.keyer.CurrentState(), Keyer::State::Busy);
    QVERIFY(!rig.keyer.RtsRaised());
    rig.out.carrier = false;
    rig.Run("d- w50");
    QVERIFY(rig.keyer.RtsRaised());
    QVERIFY2(rig.out.log.last().startsWith("W(a)@"), qPrintable(rig.out.log.join(u' ')));
    QCOMPARE(rig.keyer.Held(), std::string());
  }

  // Stations that waited for the same carrier key at different times, each within the range.
  void backoffIsRandomWithinItsRange() {
    KeyerSettings s = With(Delay(0), &KeyerSettings::busyWaitMs, 5000);
    s.busyBackoffMs = 250;
    std::set<int> seen;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
      Rig rig(s, seed);
      rig.Run("d+ s:a d-");
      int waited = 0;
      while (!rig.keyer.RtsRaised() && waited < 300) {
        rig.Run("w1");
        ++waited;
      }
      QVERIFY2(waited >= 50 && waited <= 250, qPrintable(QString::number(waited)));
      seen.insert(waited);
    }
    QVERIFY(seen.size() > 10);
  }
};

QTEST_GUILESS_MAIN(TestKeyer)
#include "test_keyer.moc"
