// A handler that closes its port, points it at another device, or destroys it, from inside an
// event delivery, in each delivery mode: nothing hangs, nothing runs on a closed port, the
// device is released, and the port (or its successor) works on.
#include "port/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/device_directory.h"
#include "port/synchronizer.h"
#include "tests/support/error_display_recorder.h"
#include "tests/support/fake_device.h"
#include "tests/support/watchdog.h"

namespace velmora::port {
namespace {

using namespace std::chrono_literals;

enum class Action { Close, SetPort, Destroy };

struct Case {
  TSyncMethod method;
  Action action;
  const char* name;
};

// The row's name, where a failure or the test list shows the parameter.
void PrintTo(const Case& row, std::ostream* os) { *os << row.name; }

class CloseInDeliveryTest : public ::testing::TestWithParam<Case> {
 protected:
  CloseInDeliveryTest() {
    directory->Add("FIRST", first);
    directory->Add("SECOND", second);
    port->SetDeviceDirectory(directory);
    port->SetPort("FIRST");
    port->SetSyncMethod(GetParam().method);
    sync = port->SharedSync();
  }

  // Runs deliveries as the GUI's loop would, until `done` or the time is up.
  bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      platform::WaitForOne(sync->Pending(), 10);
      sync->Drain();
    }
    return true;
  }

  std::shared_ptr<test::FakeDevice> first = std::make_shared<test::FakeDevice>();
  std::shared_ptr<test::FakeDevice> second = std::make_shared<test::FakeDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  test::ErrorDisplayRecorder shown;
  std::unique_ptr<TComPort> port = std::make_unique<TComPort>("ComPort1");
  std::shared_ptr<Synchronizer> sync;
};

TEST_P(CloseInDeliveryTest, FinishesOnceTheDeliveryHasUnwound) {
  const Case c = GetParam();
  std::atomic<int> handled{0};
  std::atomic<bool> actionDone{false};
  std::atomic<int> linesAfterAction{0};
  port->OnTxEmpty = [&](TCustomComPort& sender) {
    if (handled++ > 0) return;
    // Destroying the port destroys this handler too: nothing captured is used after that.
    std::atomic<bool>* done = &actionDone;
    switch (c.action) {
      case Action::Close: sender.ClosePort(); break;
      case Action::SetPort: sender.SetPort("SECOND"); break;
      case Action::Destroy: port.reset(); break;
    }
    *done = true;
  };
  port->OnCTSChange = [&](TCustomComPort&, bool) {
    if (actionDone) ++linesAfterAction;
  };
  port->OpenPort();

  {
    test::Watchdog watchdog(10s, std::string("a handler's ") + c.name);
    // The rest of the batch (CTS) must not reach a port that was closed under it.
    first->QueueEvents(platform::EV_TXEMPTY | platform::EV_CTS);
    EXPECT_TRUE(Serve([&] { return actionDone.load(); }));
    EXPECT_TRUE(Serve([&] { return !first->IsOpen(); })) << "the first device is still held";
    const int waits = first->WaitsStarted();
    Serve([] { return false; }, 50ms);
    EXPECT_EQ(first->WaitsStarted(), waits) << "the old monitor still waits on its device";
  }
  EXPECT_EQ(linesAfterAction.load(), 0);
  EXPECT_TRUE(shown.Messages().empty()) << shown.Messages().front();

  switch (c.action) {
    case Action::Close:
      EXPECT_FALSE(port->Connected());
      port->OpenPort();  // the same device opens again
      EXPECT_TRUE(port->Connected());
      break;
    case Action::SetPort:
      EXPECT_TRUE(port->Connected());
      EXPECT_EQ(port->Port(), "SECOND");
      second->QueueEvents(platform::EV_TXEMPTY);  // the new monitor delivers
      EXPECT_TRUE(Serve([&] { return handled >= 2; }));
      break;
    case Action::Destroy:
      EXPECT_EQ(port, nullptr);
      break;
  }
  if (port) {
    test::Watchdog watchdog(10s, "closing afterwards");
    port->ClosePort();
  }
}

constexpr Case kCases[] = {
    {smThreadSync, Action::Close, "ClosePort in smThreadSync"},
    {smThreadSync, Action::SetPort, "SetPort in smThreadSync"},
    {smThreadSync, Action::Destroy, "destruction in smThreadSync"},
    {smWindowSync, Action::Close, "ClosePort in smWindowSync"},
    {smWindowSync, Action::SetPort, "SetPort in smWindowSync"},
    {smWindowSync, Action::Destroy, "destruction in smWindowSync"},
    {smNone, Action::Close, "ClosePort in smNone"},
    {smNone, Action::SetPort, "SetPort in smNone"},
    {smNone, Action::Destroy, "destruction in smNone"},
};

INSTANTIATE_TEST_SUITE_P(EveryModeAndAction, CloseInDeliveryTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           std::string name = param.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace velmora::port
