#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using ProcessesContractTest = ContractTest;

TEST_F(ProcessesContractTest, StartingAMissingProgramFailsWithFileNotFound) {
  ProcessInformation info;
  std::string missing = backend_->ScratchDirectory() + "no-such-client.exe /ServiceID=x";
  EXPECT_EQ(p_.processes.CreateProcess(missing, show_window::kHide, std::nullopt, "", &info),
            win32_error::kFileNotFound);
  EXPECT_FALSE(info.process);
}

TEST_F(ProcessesContractTest, EnvironmentVariablesRoundTrip) {
  std::string name = "KELDRAN_CONTRACT_" + std::to_string(p_.processes.CurrentProcessId());
  EXPECT_EQ(p_.processes.GetEnvironmentVariable(name), std::nullopt);
  ASSERT_TRUE(p_.processes.SetEnvironmentVariable(name, "one two=three"));
  EXPECT_EQ(p_.processes.GetEnvironmentVariable(name), "one two=three");
  // Names ignore case.
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  EXPECT_EQ(p_.processes.GetEnvironmentVariable(lower), "one two=three");
}

}  // namespace
}  // namespace keldran::contract
