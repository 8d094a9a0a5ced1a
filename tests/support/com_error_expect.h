#pragma once
// Checks that a call raises the engine's error with a given table number and, when given, a
// given system number (-1: none attached); the message must begin with the table text.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "port/ecomport.h"

namespace velmora::test {

inline void ExpectComError(const std::function<void()>& call, int number,
                           std::optional<int> systemError = std::nullopt) {
  try {
    call();
    ADD_FAILURE() << "no EComPort " << number;
  } catch (const port::EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), number) << e.what();
    if (systemError) {
      EXPECT_EQ(e.WinErrorCode(), *systemError) << e.what();
    }
    EXPECT_EQ(std::string(e.what()).rfind(port::ComErrorText(number), 0), 0u) << e.what();
  }
}

}  // namespace velmora::test
