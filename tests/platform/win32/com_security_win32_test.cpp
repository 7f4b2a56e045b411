// The descriptor that COM checks every call to the host's objects against, read back: the
// process's own account, SYSTEM and the Administrators group may call from this machine, and no
// one else.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/com_security.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

std::string TokenSidText(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  BYTE buffer[512];
  DWORD size = 0;
  LPSTR text = nullptr;
  // TOKEN_USER and TOKEN_PRIMARY_GROUP both begin with the SID's address.
  if (!::GetTokenInformation(token, what, buffer, sizeof buffer, &size) ||
      !::ConvertSidToStringSidA(*reinterpret_cast<PSID*>(buffer), &text))
    return {};
  UniqueLocal owner(text);
  return text;
}

TEST(ComSecurityTest, OnlyTheOwnAccountSystemAndAdministratorsMayCallFromThisMachine) {
  UniqueLocal descriptor;
  ASSERT_EQ(BuildComAccessDescriptor(&descriptor), kSOk);
  LPSTR text = nullptr;
  ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor.get(), SDDL_REVISION_1,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr));
  UniqueLocal textOwner(text);

  UniqueKernelHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  const std::string user = TokenSidText(token.get(), TokenUser);
  const std::string group = TokenSidText(token.get(), TokenPrimaryGroup);
  ASSERT_FALSE(user.empty());
  // COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL (0x3) reads as CCDC; no remote calls, no
  // Everyone, no interactive users. The whole descriptor pinned, the own account's admission
  // follows (and every end-to-end client's call makes it).
  EXPECT_EQ(std::string(text),
            "O:" + user + "G:" + group + "D:P(A;;CCDC;;;" + user + ")(A;;CCDC;;;SY)(A;;CCDC;;;BA)");
}

}  // namespace
}  // namespace keldran::win32
