// xserver.h - a private virtual X server for window tests and benchmarks.
//
// Starts Xvfb on a display number it picks itself (-displayfd: the server
// takes the first free number and writes it back once it accepts clients),
// checks that the display's socket is there, and stops the server again. The
// server dies with the process that started it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class XvfbServer {
 public:
  XvfbServer() = default;
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  ~XvfbServer() { Stop(); }

  // Starts the server (1024 x 768, 24-bit). False with `error` set when it cannot.
  bool Start(const char* program, std::string* error) {
    int fds[2];
    if (pipe(fds) != 0) return Fail(error, "pipe failed");
    const pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      return Fail(error, "fork failed");
    }
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) {
        dup2(quiet, 1);
        dup2(quiet, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      execlp(program, program, "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      Stop();
      return Fail(error, std::string("no display number from ") + program);
    }
    display_ = std::atoi(number.c_str());
    // The server announced itself; its socket must be there as well.
    const std::string socket = "/tmp/.X11-unix/X" + number;
    struct stat st;
    for (int i = 0; i < 200 && stat(socket.c_str(), &st) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stat(socket.c_str(), &st) != 0) {
      Stop();
      return Fail(error, "no socket " + socket);
    }
    return true;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    display_ = -1;
  }

  // ":N", or "" when not running.
  std::string Name() const {
    std::string name;
    if (display_ >= 0) name.append(1, ':').append(std::to_string(display_));
    return name;
  }

 private:
  static bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
  }

  pid_t pid_ = -1;
  int display_ = -1;
};
