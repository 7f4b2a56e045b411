// KeldranTestClient.exe: see test_client.h for the protocol it follows and script.h for its
// command line.
#include <windows.h>

#include "test_client.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    keldran::client::TestClient client;
    return client.Run(instance, GetCommandLineA());
  } catch (...) {
    return 1;
  }
}
