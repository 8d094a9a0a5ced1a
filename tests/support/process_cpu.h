#pragma once
// Processor time used, for tests that show an idle or lost device costs nothing.

#include <chrono>

namespace velmora::test {

std::chrono::microseconds ProcessCpuTime();
std::chrono::microseconds ThreadCpuTime();  // the calling thread's

}  // namespace velmora::test
