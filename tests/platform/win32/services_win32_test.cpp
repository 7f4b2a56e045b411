#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

class ServicesTest : public ::testing::Test {
 protected:
  Win32Platform backend_;
  IServiceManager& s_ = backend_.platform().services;
};

// Wine gives up on the missing service manager only after about 10 s.
TEST_F(ServicesTest, DispatcherOutsideTheServiceManagerFails) {
  bool ran = false;
  EXPECT_EQ(s_.RunDispatcher("KeldranTest", [&] { ran = true; }),
            win32_error::kFailedServiceControllerConnect);
  EXPECT_FALSE(ran);
}

TEST_F(ServicesTest, ServiceDatabaseRoundTrip) {
  ScopedScHandle manager(s_);
  ASSERT_EQ(s_.OpenManager(service_access::kManagerAll, manager.put()), 0u);
  std::string name = "KeldranTest" + std::to_string(::GetCurrentProcessId());

  ScopedScHandle service(s_);
  EXPECT_EQ(s_.OpenService(manager.get(), name, service_access::kAll, service.put()),
            win32_error::kServiceDoesNotExist);

  ServiceDefinition def;
  def.name = name;
  def.displayName = "Keldran test service";
  def.binaryPath = "C:\\keldran\\KeldranGridAgent.exe /Service";
  def.dependencies = {"RpcSs"};
  ASSERT_EQ(s_.CreateService(manager.get(), def, service.put()), 0u);
  ScopedScHandle again(s_);
  EXPECT_EQ(s_.CreateService(manager.get(), def, again.put()), win32_error::kServiceExists);
  EXPECT_TRUE(s_.SetDescription(service.get(), "Runs nothing"));
  // What Wine 8 does with the levels that registration sets (Windows takes them all): it keeps
  // failure actions (but cannot read them back) and the preshutdown time, and refuses the
  // failure-actions flag and delayed automatic start.
  EXPECT_EQ(s_.SetFailureActions(service.get(), {86400, {5000, 30000}}), 0u);
  EXPECT_EQ(s_.SetFailureActionsFlag(service.get(), true), win32_error::kInvalidParameter);
  EXPECT_EQ(s_.SetPreshutdownTimeout(service.get(), 40000), 0u);
  EXPECT_EQ(s_.SetDelayedAutoStart(service.get(), true), win32_error::kInvalidParameter);

  ServiceConfigView config;
  ASSERT_EQ(s_.QueryConfig(service.get(), &config), 0u);
  EXPECT_EQ(config.binaryPath, def.binaryPath);
  EXPECT_EQ(config.displayName, def.displayName);
  EXPECT_EQ(config.serviceType, service_type::kOwnProcess);
  EXPECT_EQ(config.startType, 3u);

  ServiceStatus status;
  ASSERT_EQ(s_.QueryStatus(service.get(), &status), 0u);
  EXPECT_EQ(status.currentState, service_state::kStopped);
  EXPECT_EQ(s_.Control(service.get(), service_control::kStop, &status),
            win32_error::kServiceNotActive);

  std::vector<EnumeratedService> all;
  ASSERT_EQ(s_.EnumOwnProcessServices(manager.get(), &all), 0u);
  auto found = std::find_if(all.begin(), all.end(),
                            [&](const EnumeratedService& e) { return e.name == name; });
  ASSERT_NE(found, all.end());
  EXPECT_EQ(found->displayName, def.displayName);
  EXPECT_EQ(found->status.currentState, service_state::kStopped);

  ASSERT_EQ(s_.Delete(service.get()), 0u);
  service.reset();
  EXPECT_EQ(s_.OpenService(manager.get(), name, service_access::kAll, service.put()),
            win32_error::kServiceDoesNotExist);
}

}  // namespace
}  // namespace keldran::win32
