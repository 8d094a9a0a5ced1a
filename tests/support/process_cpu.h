#pragma once
// Processor time used, for tests that show an idle or lost device costs nothing, and what the
// process holds, for tests that show nothing is left behind.

#include <chrono>

namespace velmora::test {

std::chrono::microseconds ProcessCpuTime();
std::chrono::microseconds ThreadCpuTime();  // the calling thread's

// Entries of a folder such as /proc/self/fd or /proc/self/task, without "." and "..".
long CountEntries(const char* folder);

}  // namespace velmora::test
