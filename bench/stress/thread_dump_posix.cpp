// Linux: the threads of /proc/self/task with their state and kernel wait channel, then gdb's
// backtraces of the whole process when gdb is installed.
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "thread_dump.h"

namespace tessora::stress {

namespace {

std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Runs gdb on this process; gives it `seconds`, then kills it.
void RunGdb(int seconds) {
  const std::string pid = std::to_string(getpid());
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    execlp("gdb", "gdb", "-p", pid.c_str(), "-batch", "-nx", "-ex", "thread apply all bt",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int waited = 0; waited < seconds * 10; ++waited) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

unsigned long CurrentThreadId() {
  return static_cast<unsigned long>(syscall(SYS_gettid));
}

void DumpThreads(int debuggerSeconds) {
  std::printf("threads of process %d:\n", static_cast<int>(getpid()));
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const std::string stat = FirstLine(task.path() / "stat");
    const std::size_t close = stat.rfind(')');
    const std::string state = close != std::string::npos ? stat.substr(close + 2, 1) : "?";
    std::printf("  thread %s: state %s, waiting in %s\n", task.path().filename().c_str(),
                state.c_str(), FirstLine(task.path() / "wchan").c_str());
  }
  std::fflush(nullptr);
  RunGdb(debuggerSeconds);
  std::fflush(nullptr);
}

}  // namespace tessora::stress
