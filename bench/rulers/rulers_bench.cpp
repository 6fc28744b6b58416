// The rulers' start-up and memory on a private Xvfb, side by side with the X programs that do the
// same work (start, open a window and show its first frame): xev (plain Xlib) and xmessage (Xt
// and Athena widgets). Rounds interleave the programs; medians and ratios are printed. Then the
// cost of one marker move up to the presented frame, on the headless backend.
//   rulers_bench [ROUNDS]
// Start to first frame: from the spawn until a pixel in the middle of the program's new window
// shows something other than the black it is created with. Resident memory: VmRSS 100 ms after
// the first frame. This program drives X11 processes, so it is built where the X11 backend is.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/window/headless/headless.h"
#include "tools/rulers/ruler.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Starts a program with its output and error output thrown away.
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

long ResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// A private X server for the length of the run.
struct Server {
  pid_t pid = -1;
  std::string display;
  Server() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp", "-br"});
    close(fds[1]);
    std::string number;
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display = ":" + number;
  }
  ~Server() { Stop(pid); }
};

struct Sample {
  double firstFrameMs;
  long residentKb;
};

// Starts the program and waits for its first frame; nullopt when none came within 5 seconds.
std::optional<Sample> Measure(Display* d, const std::vector<std::string>& args) {
  while (XPending(d)) {
    XEvent ev;
    XNextEvent(d, &ev);
  }
  const Clock::time_point start = Clock::now();
  const pid_t pid = Spawn(args);
  if (pid < 0) return std::nullopt;
  const Clock::time_point deadline = start + std::chrono::seconds(5);
  std::optional<Sample> sample;
  Window w = 0;
  while (Clock::now() < deadline && !sample) {
    if (!w) {
      pollfd p{ConnectionNumber(d), POLLIN, 0};
      if (!XPending(d)) poll(&p, 1, 10);
      while (XPending(d)) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == MapNotify && !ev.xmap.override_redirect) w = ev.xmap.window;
      }
      continue;
    }
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a)) break;
    // Five points spread over the window: a frame shows colour at one of them at least.
    const int points[5][2] = {{2, 2}, {1, 1}, {3, 3}, {1, 3}, {3, 1}};
    bool shown = false;
    for (const auto& pt : points) {
      XImage* image =
          XGetImage(d, w, a.width * pt[0] / 4, a.height * pt[1] / 4, 1, 1, AllPlanes, ZPixmap);
      if (!image) continue;
      shown = shown || XGetPixel(image, 0, 0) != 0;
      XDestroyImage(image);
    }
    if (shown) sample = Sample{Ms(Clock::now() - start), 0};
  }
  if (sample) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sample->residentKb = ResidentKb(pid);
  }
  Stop(pid);
  return sample;
}

struct Program {
  std::string name;
  std::vector<std::string> args;
  std::vector<double> ms;
  std::vector<double> kb;
};

// One marker move on a 1024-pixel ruler, handled and presented, on the headless backend.
double MarkerMoveUs() {
  using namespace tk;
  auto backend = std::make_unique<headless::Backend>(TRect{0, 0, 1280, 1024});
  headless::Backend* h = backend.get();
  Application().Initialize(std::move(backend));
  double us = 0;
  {
    rulers::TRuler ruler(rulers::TOrientation::Horizontal, 1024, "Plank1024");
    Application().SetMainForm(&ruler);
    ruler.Show();
    std::vector<double> samples;
    for (int round = 0; round < 7; ++round) {
      const Clock::time_point start = Clock::now();
      for (int x = 0; x < 1000; ++x) {
        h->MouseMove(ruler.Left + x, ruler.Top + 20);
        Application().ProcessMessages();
      }
      samples.push_back(Ms(Clock::now() - start));
    }
    us = Median(samples);  // milliseconds for 1000 moves: microseconds for one
  }
  Application().Finalize();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  std::printf("marker move to presented frame, 1024 x 40, headless: %.1f us (median of 7 x 1000)\n",
              MarkerMoveUs());

  Server server;
  if (server.display.empty()) {
    std::printf("SKIP: no Xvfb\n");
    return 0;
  }
  setenv("DISPLAY", server.display.c_str(), 1);
  Display* d = XOpenDisplay(server.display.c_str());
  if (!d) {
    std::printf("SKIP: cannot open %s\n", server.display.c_str());
    return 0;
  }
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);

  std::vector<Program> programs = {
      {"Plank1024", {PLANK1024}, {}, {}},
      {"Spire800", {SPIRE800}, {}, {}},
      {"xev", {"xev", "-geometry", "400x400+0+0"}, {}, {}},
      {"xmessage", {"xmessage", "-center", "0 100 200 300 400 500 600 700 800 900 1000"}, {}, {}},
  };
  for (int round = 0; round < rounds; ++round)
    for (Program& p : programs)
      if (std::optional<Sample> s = Measure(d, p.args)) {
        p.ms.push_back(s->firstFrameMs);
        p.kb.push_back(double(s->residentKb));
      }
  XCloseDisplay(d);

  std::printf("%d rounds on Xvfb, interleaved; medians\n", rounds);
  std::printf("%-10s %10s %10s %14s %12s\n", "program", "first ms", "RSS kB", "Plank1024 ms x",
              "RSS x");
  const double plankMs = Median(programs[0].ms), plankKb = Median(programs[0].kb);
  for (const Program& p : programs) {
    if (p.ms.empty()) {
      std::printf("%-10s did not show a frame\n", p.name.c_str());
      continue;
    }
    const double ms = Median(p.ms), kb = Median(p.kb);
    std::printf("%-10s %10.1f %10.0f %14.2f %12.2f\n", p.name.c_str(), ms, kb, plankMs / ms,
                plankKb / kb);
  }
  return 0;
}
