// Placeholder bodies until the configuration load lands.
#include "app/service_module.h"

namespace keldran {

bool CServiceModule::LoadServiceConfig(std::uint16_t, const std::string&) { return false; }
std::string CServiceModule::ReadIniValue(const std::string&, const std::optional<std::string>&,
                                         const std::string& defaultValue, std::size_t,
                                         std::size_t* expandedLength) {
  if (expandedLength) *expandedLength = defaultValue.size();
  return defaultValue;
}

}  // namespace keldran
