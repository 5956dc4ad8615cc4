// xserver.h - a private Xvfb (1024 x 768, 24-bit) for window tests and benchmarks: it picks a free display
// number and writes it back once it accepts clients (-displayfd), and dies with the process that started it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>


class XvfbServer {
 public:
  ~XvfbServer() { Stop(); }

  // Starts the server with one screen of `size` (width x height x depth); false with `error` set
  // when it does not come up within 20 s.
  bool Start(const char* program, std::string* error, const char* size = "1024x768x24") {
    int fds[2] = {-1, -1};
    if (pipe(fds) == 0 && (pid_ = fork()) == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      close(fds[0]);
      execlp(program, program, "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0", size, "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    for (char c; poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) name_ += c;
    close(fds[0]);
    if (!name_.empty()) {
      name_.insert(0, ":");
      return true;
    }
    Stop();
    if (error) *error = std::string("no display number from ") + program;
    return false;
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    name_.clear();
  }

  std::string Name() const { return name_; }  // ":N", or "" when not running

 private:
  pid_t pid_ = -1;
  std::string name_;
};
