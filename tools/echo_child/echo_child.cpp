// A stand-in client for the Windows tests: writes the command line it was started with and the
// host's parameter variable, one per line, to the file named by its first argument ("-" for
// none), then exits, or with "wait" as its second argument waits until it is killed.
//
//   echo_child.exe <file|-> [wait|exit=<code>] [anything else...]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "-") != 0) {
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 3;
    const char* params = std::getenv("KeldranService_PDF_PARAMS");
    std::fprintf(out, "%s\n%s\n", GetCommandLineA(), params ? params : "<unset>");
    std::fclose(out);
  }
  if (argc > 2 && std::strcmp(argv[2], "wait") == 0) {
    for (;;) Sleep(INFINITE);
  }
  if (argc > 2 && std::strncmp(argv[2], "exit=", 5) == 0) return std::atoi(argv[2] + 5);
  return 0;
}
