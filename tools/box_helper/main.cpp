// box_helper.exe <exit code> [<caption> [<text>]]
//
// Shows a message box with the caption and text ("\n" in the text stands for a line break) and,
// once it is dismissed, exits with the code (decimal or 0x hex). Without a caption it shows no
// box and exits at once.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const auto code = static_cast<UINT>(std::strtoul(argv[1], nullptr, 0));
  if (argc >= 3) {
    std::string text;
    for (const char* p = argc >= 4 ? argv[3] : ""; *p; ++p) {
      if (p[0] == '\\' && p[1] == 'n') {
        text += '\n';
        ++p;
      } else {
        text += *p;
      }
    }
    MessageBoxA(nullptr, text.c_str(), argv[2], MB_OK | MB_ICONINFORMATION);
  }
  ExitProcess(code);
}
