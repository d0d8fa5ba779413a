// What a stress program prints about its own process when a call hangs: every thread's state, and
// what a debugger says of it where one can be started.
#pragma once

namespace tessora::stress {

// Prints to standard output each thread of the process (its system id and where it is), then, where
// a debugger is at hand (winedbg under Wine, gdb on Linux), the backtraces of every thread.
// Bounded: the debugger gets `debuggerSeconds` and is then left behind.
void DumpThreads(int debuggerSeconds);

// The calling thread's system id (GetCurrentThreadId, gettid), as DumpThreads prints it.
unsigned long CurrentThreadId();

}  // namespace tessora::stress
