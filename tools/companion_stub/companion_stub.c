/* Stands in for the companion DLL KeldranGridUtil.dll in tests of the installer steps. Its
   self-registration entries add a line to companion.log beside the DLL ("register" or
   "unregister"), and fail with SELFREG_E_CLASS while a file companion.fail lies there. */
#include <windows.h>

#include <string.h>

static HMODULE self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}

static HRESULT Note(const char* line) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  char* name = strrchr(path, '\\');
  if (length == 0 || length >= MAX_PATH - 16 || !name) return E_FAIL;
  strcpy(name + 1, "companion.fail");
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return (HRESULT)0x80040201L;
  strcpy(name + 1, "companion.log");
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  DWORD written = 0;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  CloseHandle(file);
  return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) { return Note("register\r\n"); }
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) { return Note("unregister\r\n"); }
