#pragma once
// Who may call the COM objects of this process: its own account, SYSTEM and the Administrators
// group, from this machine only. A host that runs as LocalSystem must not lend its powers to
// every local user, and the client it starts runs under its own account.

#include "platform/types.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {

// The descriptor COM checks every incoming call against, self-relative (freed with LocalFree):
// owner and group are the user and primary group of the thread's token (the process token when
// the thread has none); the protected DACL grants COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL
// (0x3) to that user, SYSTEM and the Administrators group, and nothing to anyone else.
HResult BuildComAccessDescriptor(UniqueLocal* descriptor);

}  // namespace keldran::win32
