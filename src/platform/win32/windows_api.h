#pragma once
// The Windows headers the backend needs, for every file of the backend and the Windows-only code
// that also sees the platform interfaces. The ANSI/wide name macros of the Windows headers
// (CreateFile -> CreateFileA, and so on) would rename the interface methods of the same names,
// so they are taken back here: Windows code calls the A or W functions by their full names.

#include <windows.h>
// (windows.h first: the others build on it.)
#include <ole2.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#undef CharNext
#undef CopyFile
#undef CreateDirectory
#undef CreateFile
#undef CreateProcess
#undef CreateService
#undef CreateWindow
#undef DefWindowProc
#undef DeleteFile
#undef DispatchMessage
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef GetMessage
#undef GetProfileInt
#undef GetProfileSection
#undef GetProfileString
#undef LoadLibrary
#undef MessageBox
#undef OpenService
#undef OutputDebugString
#undef PeekMessage
#undef PathCanonicalize
#undef PathCombine
#undef PathFileExists
#undef PathFindExtension
#undef PathFindFileName
#undef PathQuoteSpaces
#undef PathRemoveArgs
#undef PathRemoveFileSpec
#undef PathUnquoteSpaces
#undef PostMessage
#undef PostThreadMessage
#undef RegisterWindowMessage
#undef SendMessage
#undef SetEnvironmentVariable
#undef SetFileAttributes
#undef StartService
#undef WriteProfileString
