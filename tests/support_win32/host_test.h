#pragma once
// Fixtures of the Windows tests that drive real processes: TypeLibTest registers the host's type
// library for its suite, for calls from another process; HostTest gives each test a host run.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"

namespace keldran::test {

class TypeLibTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { typeLib_ = new TypeLibRegistration(AgentExePath()); }
  static void TearDownTestSuite() {
    delete typeLib_;
    typeLib_ = nullptr;
  }
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(typeLib_->result()); }

  ComApartment apartment_;

 private:
  static inline TypeLibRegistration* typeLib_ = nullptr;
};

class HostTest : public ::testing::Test {
 protected:
  static constexpr DWORD kWaitMs = 15000;

  void StartHost(const HostSetup& setup) {
    ASSERT_TRUE(run_.Prepare(setup));
    ASSERT_EQ(run_.Start(), 0u);
  }
  // The host ends by itself with the code; the client's ServiceID is then gone from the table.
  void ExpectHostEnds(DWORD code = 0) {
    ASSERT_TRUE(run_.host().WaitForExit(kWaitMs)) << run_.Log() << run_.Out();
    EXPECT_EQ(run_.host().ExitCode(), code) << run_.Log();
    EXPECT_FALSE(IsInRunningObjectTable(run_.serviceId()));
  }
  // Holds the first client's process, so that its exit code can be read whoever ends it.
  void WatchClient() {
    ASSERT_TRUE(run_.WaitForOut("connected thread=", kWaitMs)) << run_.Out() << run_.Log();
    const std::vector<DWORD> pids = ClientPids(run_.Out());
    ASSERT_EQ(pids.size(), 1u);
    client_ = std::make_unique<ProcessWatch>(pids[0]);
    ASSERT_TRUE(client_->valid());
  }

  ComApartment apartment_;
  HostRun run_;
  std::unique_ptr<ProcessWatch> client_;
};

}  // namespace keldran::test
