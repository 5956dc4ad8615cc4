// record.cpp (bench) - the size of a headless recording: mapwalk1 on the
// bundled assets, windowless, SCRREC set, a step every 0.5 s for 60 s (down,
// along the corridors and back, some steps into walls), then ESC. Reported:
// the GIF's size (target < 200 KB), its pictures and their mean size.
// Exit status 1 when the target is missed, 2 when the run fails.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;  // shorter for a quick look
  const std::string gif = "/tmp/bench_record_" + std::to_string(getpid()) + ".gif";
  const std::string walk = "22" + std::string(16, '6') + std::string(16, '4') + "88" + std::string(8, '6') + "2222" +
                           "8888" + std::string(8, '4');
  int keys[2];
  if (pipe(keys) != 0) return 2;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(keys[0], STDIN_FILENO);
    close(keys[1]);
    if (!std::freopen("/dev/null", "w", stdout) || chdir(WALKER_ASSET_DIR) != 0) _exit(127);
    setenv("SCRBK", "null", 1);
    setenv("SCRREC", gif.c_str(), 1);
    execl(MAPWALK1_PATH, MAPWALK1_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(keys[0]);
  const int steps = int(seconds * 2);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < steps; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(500 * (i + 1)));
    if (write(keys[1], &walk[size_t(i) % walk.size()], 1) != 1) break;
  }
  if (write(keys[1], "\033", 1) != 1) std::perror("bench_record: ESC");
  close(keys[1]);
  int status = -1;
  waitpid(pid, &status, 0);
  struct stat st {};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || stat(gif.c_str(), &st) != 0) {
    std::fprintf(stderr, "bench_record: mapwalk1 failed (status %d)\n", status);
    return 2;
  }
  // The pictures: image descriptors counted by a walk over the file's blocks.
  int pictures = 0;
  if (FILE* f = std::fopen(gif.c_str(), "rb")) {
    unsigned char head[13];
    if (std::fread(head, 1, 13, f) == 13 && (head[10] & 0x80)) std::fseek(f, 3L << ((head[10] & 7) + 1), SEEK_CUR);
    const auto skipBlocks = [f] {
      for (int n; (n = std::fgetc(f)) > 0;) std::fseek(f, n, SEEK_CUR);
    };
    for (int c; (c = std::fgetc(f)) != EOF && c != 0x3B;) {
      if (c == 0x21) {
        std::fgetc(f);
        skipBlocks();
      } else if (c == 0x2C) {
        unsigned char d[9];
        if (std::fread(d, 1, 9, f) != 9) break;
        if (d[8] & 0x80) std::fseek(f, 3L << ((d[8] & 7) + 1), SEEK_CUR);
        std::fgetc(f);
        skipBlocks();
        ++pictures;
      } else {
        break;
      }
    }
    std::fclose(f);
  }
  std::remove(gif.c_str());
  const double kb = double(st.st_size) / 1024;
  const bool ok = seconds < 60 || kb < 200;
  std::printf("Headless recording of mapwalk1, a step every 0.5 s for %.0f s: %.1f KB, %d pictures (%.0f bytes each)"
              "  < 200 KB  %s\n", seconds, kb, pictures, pictures ? double(st.st_size) / pictures : 0.0,
              ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
