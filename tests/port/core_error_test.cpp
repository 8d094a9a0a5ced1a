#include "port/ecomport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "port/error_display.h"
#include "tests/port/core_fixture.h"

namespace velmora::port {
namespace {

TEST(EComPortTest, MessageNumberCodeAndDetail) {
  struct Case {
    const char* name;
    EComPort error;
    std::string what;
    int number;
    int code;
    std::string detail;
  };
  const std::string suffix = " (win error code: ";
  const Case cases[] = {
      {.name = "a system number is appended to the table text",
       .error = EComPort(kErrOpen, EIO),
       .what = "Unable to open com port" + suffix + std::to_string(EIO) + ")",
       .number = kErrOpen,
       .code = EIO,
       .detail = ""},
      {.name = "system number zero still gives the suffix",
       .error = EComPort(kErrSetState, 0),
       .what = "SetCommState function failed" + suffix + "0)",
       .number = kErrSetState,
       .code = 0,
       .detail = ""},
      {.name = "without a system number: the table text alone and code -1",
       .error = EComPort(kErrConnected),
       .what = "Cannot set property while connected",
       .number = kErrConnected,
       .code = -1,
       .detail = ""},
      {.name = "a detail travels beside an unchanged message",
       .error = EComPort(kErrOpen, EACCES, "add the user to the dialout group"),
       .what = "Unable to open com port" + suffix + std::to_string(EACCES) + ")",
       .number = kErrOpen,
       .code = EACCES,
       .detail = "add the user to the dialout group"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::string(c.error.what()), c.what);
    EXPECT_EQ(c.error.ErrorNumber(), c.number);
    EXPECT_EQ(c.error.WinErrorCode(), c.code);
    EXPECT_EQ(c.error.Detail(), c.detail);
  }
}

TEST(EComPortTest, IsCaughtAsAStandardException) {
  try {
    throw EComPort(kErrPurge, EBADF);
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "PurgeComm function failed (win error code: " + std::to_string(EBADF) + ")");
  }
}

TEST(EComPortTest, TableKeepsEveryEntryInItsPlace) {
  // Spot checks across the table: first, the unused entries in between, the last.
  // The numbers themselves are the table's places, so they are checked here as numbers.
  EXPECT_EQ(kErrOpen, 1);
  EXPECT_EQ(kErrInvalidAsync, 4);
  EXPECT_EQ(kErrSetTimeouts, 8);
  EXPECT_EQ(kErrConnected, 14);
  EXPECT_EQ(kErrRegistry, 23);
  EXPECT_STREQ(ComErrorText(kErrOpen), "Unable to open com port");
  EXPECT_STREQ(ComErrorText(kErrInvalidAsync), "Invalid Async parameter");
  EXPECT_STREQ(ComErrorText(kErrAsyncStatus), "Unable to get async status");
  EXPECT_STREQ(ComErrorText(kErrSetTimeouts), "SetCommTimeouts failed");
  EXPECT_STREQ(ComErrorText(kErrTransmitChar), "TransmitCommChar function failed");
  EXPECT_STREQ(ComErrorText(kErrLoadSettings), "Failed to load settings");
  EXPECT_STREQ(ComErrorText(kErrLedState), "Cannot change led state if ComPort is selected");
  EXPECT_STREQ(ComErrorText(kErrHasLink), "A component is linked to OnRxBuf event");
  EXPECT_STREQ(ComErrorText(kErrRegistry), "Registry error");
  EXPECT_STREQ(ComErrorText(0), "");
  EXPECT_STREQ(ComErrorText(kComErrorCount + 1), "");
  for (int n = 1; n <= kComErrorCount; ++n) {
    EXPECT_STRNE(ComErrorText(n), "") << n;
    EXPECT_EQ(std::string(ComErrorText(n)).find('%'), std::string::npos) << n;
  }
}

TEST(ErrorDisplayTest, ShowsThroughTheInstalledDisplayAndRestoresThePrevious) {
  std::vector<std::string> outer;
  ErrorDisplay before = SetErrorDisplay([&](const std::string& m) { outer.push_back(m); });
  {
    test::ErrorDisplayRecorder recorder;
    ShowError("first");
    try {
      throw EComPort(kErrOpen, ENOENT);
    } catch (...) {
      ShowCurrentException();
    }
    try {
      throw 42;
    } catch (...) {
      ShowCurrentException();
    }
    EXPECT_EQ(recorder.Messages(),
              (std::vector<std::string>{"first", "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")",
                                        "unknown error"}));
  }
  ShowError("back");
  EXPECT_EQ(outer, std::vector<std::string>{"back"});
  SetErrorDisplay(std::move(before));
}

}  // namespace
}  // namespace velmora::port
