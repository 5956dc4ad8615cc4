// pacer.cpp (bench) - the processor time of a paced program: the sprite example,
// which calls WaitFrame once per frame, run for 3 s after a 1 s start on the
// windowless back-end and in an SDL window on a private Xvfb, all its threads
// counted (the Presenter's too). Target: at most 10 % of one core each.
// Exit status 1 when a target is missed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "xserver.h"

namespace {

double ProcessorSeconds(pid_t pid) {  // user + system time of all the process's threads
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i)
    if (i >= 14) ticks += std::stod(field);
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// Share of one core the example uses on back-end `backend` (-1 when it could not run).
double CoreShare(const char* backend, const std::string& display) {
  int keys[2];
  if (pipe(keys) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(keys[0], 0), close(keys[1]);
    setenv("SCRBK", backend, 1);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    execl(SPRITE_PATH, SPRITE_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(keys[0]);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double before = ProcessorSeconds(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double used = ProcessorSeconds(pid) - before;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool running = waitpid(pid, nullptr, WNOHANG) == 0;
  kill(pid, SIGTERM);  // a window reads no keys from the pipe
  close(keys[1]);
  waitpid(pid, nullptr, 0);
  return running ? used / wall : -1;
}

}  // namespace

int main() {
  XvfbServer x;
  std::string error;
  if (!x.Start("Xvfb", &error)) std::printf("no Xvfb (%s): the window case is left out\n", error.c_str());
  bool ok = true;
  for (const char* backend : {"null", "SDL"}) {
    if (std::string(backend) == "SDL" && x.Name().empty()) continue;
    const double share = CoreShare(backend, x.Name());
    std::printf("sprite example, paced by WaitFrame, on %-4s: %5.1f %% of a core (target <= 10 %%)\n", backend,
                100 * share);
    ok = ok && share >= 0 && share <= 0.10;
  }
  return ok ? 0 : 1;
}
