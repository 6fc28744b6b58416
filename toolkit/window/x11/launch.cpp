#include <spawn.h>
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "toolkit/window/x11/x11.h"

extern char** environ;

namespace tk::x11 {

bool LaunchOrOpen(const std::string& file) {
  struct stat st {};
  bool runnable = ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                  ::access(file.c_str(), X_OK) == 0;
  // A bare name is started from the current folder, not looked up on the search path.
  std::string path = file.find('/') == std::string::npos ? "./" + file : file;
  std::string opener = "xdg-open";
  // The started program is detached: an intermediate child starts it and exits at once, so no
  // zombie is left behind and nothing waits for the program.
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    char* argv[3] = {nullptr, nullptr, nullptr};
    if (runnable) {
      argv[0] = path.data();
    } else {
      argv[0] = opener.data();
      argv[1] = const_cast<char*>(file.c_str());
    }
    pid_t pid = 0;
    int rc = runnable ? ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ)
                      : ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ);
    ::_exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tk::x11
