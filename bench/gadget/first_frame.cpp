// first_frame: how long a program takes from its start to its first frame on the X display, and
// its resident memory then. The first frame is there when the screen pixel at (X, Y) has the
// colour RRGGBB; the pixel is read every millisecond.
//   first_frame X Y RRGGBB TIMEOUT_SECONDS COMMAND [ARGUMENTS...]
// Prints "ms=MILLISECONDS rss_kb=KILOBYTES" and ends the program; exit status 1 on a timeout.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: first_frame X Y RRGGBB TIMEOUT_SECONDS COMMAND [ARGUMENTS...]\n");
    return 2;
  }
  const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
  const unsigned long want = std::strtoul(argv[3], nullptr, 16);
  const auto limit = std::chrono::seconds(std::atoi(argv[4]));
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "first_frame: no X display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(d);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[5], argv + 5);
    _exit(127);
  }
  bool seen = false;
  while (std::chrono::steady_clock::now() - start < limit) {
    if (XImage* image = XGetImage(d, root, x, y, 1, 1, AllPlanes, ZPixmap)) {
      seen = (XGetPixel(image, 0, 0) & 0xFFFFFF) == want;
      XDestroyImage(image);
    }
    if (seen) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  // Let the program settle after its first frame before its memory is read.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long rss = ResidentKilobytes(child);
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  XCloseDisplay(d);
  if (!seen) {
    std::fprintf(stderr, "first_frame: no frame within the limit\n");
    return 1;
  }
  std::printf("ms=%.1f rss_kb=%ld\n", ms, rss);
  return 0;
}
