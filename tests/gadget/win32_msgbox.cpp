// For the end-to-end test under wine: waits for a message box with the given caption, shown by
// another program, up to SECONDS (default 30), prints its text and presses its OK button.
//   win32_msgbox CAPTION [SECONDS]
// Exit status 0 when a box was found, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

// The message box keeps its text in a static control with the identifier 0xFFFF.
constexpr int kTextId = 0xFFFF;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: win32_msgbox CAPTION [SECONDS]\n");
    return 2;
  }
  const int tenths = (argc == 3 ? std::atoi(argv[2]) : 30) * 10;
  for (int i = 0; i < tenths; ++i) {
    if (HWND box = ::FindWindowA("#32770", argv[1])) {
      char text[1024] = {};
      ::GetDlgItemTextA(box, kTextId, text, sizeof text);
      std::printf("%s\n", text);
      std::fflush(stdout);
      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    ::Sleep(100);
  }
  std::fprintf(stderr, "no message box captioned \"%s\"\n", argv[1]);
  return 1;
}
