// Counts heap allocations made while counting is on, in the whole process.
//
// The program that links MallocCount.cpp defines malloc and its relatives
// itself; the plug-in, Qt and the C++ runtime all bind to those definitions,
// so what they allocate during a measured call is counted too.
#ifndef MALLOCCOUNT_H
#define MALLOCCOUNT_H

#include <cstdint>

namespace MallocCount {

// False in sanitizer builds: the sanitizer owns malloc there, and nothing is counted.
bool available();
// Counting on; the largest allocation is looked for afresh from here.
void start();
void stop();
// Allocations (malloc, calloc, realloc, the aligned forms) since reset().
std::uint64_t count();
// The bytes they asked for, since reset().
std::uint64_t bytes();
// The largest single allocation since start().
std::uint64_t largest();
void reset();

} // namespace MallocCount

#endif // MALLOCCOUNT_H
