// Running a piece of a test in a child of fork(), as a host that forks
// (Python's multiprocessing, a server's workers) does, and seeing whether
// the child finishes.
#ifndef MORVIK_TESTS_SUPPORT_FORKED_CHILD_H_
#define MORVIK_TESTS_SUPPORT_FORKED_CHILD_H_

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace testing_support {

// Runs `body` in a child of fork() and waits up to `seconds` for it:
// "exit N" with body's result, "signal N", or "hung" when the child had to
// be killed; a hang fails the test instead of blocking it.
inline std::string inForkedChild(const std::function<int()>& body, int seconds) {
  const pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    int rc = 99;
    try {
      rc = body();
    } catch (...) {
      rc = 98;
    }
    _exit(rc);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return "hung";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "unknown";
}

}  // namespace testing_support

#endif  // MORVIK_TESTS_SUPPORT_FORKED_CHILD_H_
