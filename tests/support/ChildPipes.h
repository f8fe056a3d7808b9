// Reading a started program's standard output and standard error to their end, with a limit: a
// program that does not end in time is killed and the test fails with what it printed so far,
// instead of waiting for ever.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace brevomat::testing {

// Reads outFd and errFd (either may be -1) into out and err until both are closed; `onData` is
// called with 0 or 1 after each piece read from the one or the other. Both descriptors are closed.
inline void DrainChild(pid_t pid, int outFd, int errFd, std::string& out, std::string& err,
                       const std::function<void(int)>& onData = {},
                       std::chrono::seconds limit = std::chrono::seconds(180)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = (outFd >= 0) + (errFd >= 0);
  char buf[4096];
  while (open > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int ready = left.count() > 0 ? poll(fds, 2, static_cast<int>(left.count())) : 0;
    if (ready == 0) {
      ADD_FAILURE() << "the program did not end within " << limit.count() << " s; it printed:\n"
                    << out << "\nand on standard error:\n"
                    << err;
      kill(pid, SIGKILL);
      break;
    }
    if (ready < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {  // a pseudo-terminal ends with EIO once the program has closed it
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? out : err).append(buf, static_cast<std::size_t>(n));
      if (onData) onData(i);
    }
  }
  for (const pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
}

// Waits for the program to end and returns its status as waitpid gives it; one that has not ended
// within `limit` is killed and the test fails.
inline int WaitChild(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "the program did not end within " << limit.count() << " s";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

}  // namespace brevomat::testing
