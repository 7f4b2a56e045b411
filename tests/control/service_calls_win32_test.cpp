// ReadIniString against a real INI file: the service account's password never leaves the host.
#include "platform/win32/windows_api.h"

#include "support_win32/real_files.h"

namespace keldran {
namespace {

TEST(ReadIniStringTest, NeverGivesTheServiceAccountsPassword) {
  testing::RealFilesHost h;
  h.WriteIni(
      "[Service]\r\nLogon=KELDRAN\\agent;s3cret;too\r\nCommandLine=x\r\n"
      "[Client]\r\nLogon=not;secret\r\n");
  h.host.config.IniFile = h.IniPath();
  const struct {
    std::u16string section, key, expected;
  } reads[] = {
      {u"Service", u"Logon", u"KELDRAN\\agent"},
      {u"service", u" LOGON ", u"KELDRAN\\agent"},
      {u"Service", u"", u"Logon=KELDRAN\\agent"},  // the section's first entry
      {u"Client", u"Logon", u"not;secret"},        // only the service account is kept back
  };
  for (const auto& read : reads) {
    WideString result;
    ASSERT_EQ(h.host.calls.ReadIniString(&read.section, &read.key, nullptr, &result), kSOk);
    EXPECT_EQ(result, read.expected);
  }
}

}  // namespace
}  // namespace keldran
