#include "gridutil/host_params.h"

namespace keldran::gridutil {
namespace {

constexpr std::string_view kIdParam = "/ServiceID=";
constexpr std::string_view kNameParam = " /ServiceName=";
constexpr std::string_view kBlanks = " \t\r\n";

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kBlanks) - first + 1));
}

}  // namespace

std::optional<HostParams> ParseHostParams(std::string_view text) {
  // The host's parameters are the last words; a script's own arguments come before them.
  const size_t id = text.rfind(kIdParam);
  if (id == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(id + kIdParam.size());
  HostParams params;
  const size_t name = rest.find(kNameParam);
  params.serviceId = Trimmed(rest.substr(0, name));
  if (name != std::string_view::npos)
    params.serviceName = Trimmed(rest.substr(name + kNameParam.size()));
  if (params.serviceId.empty()) return std::nullopt;
  return params;
}

std::optional<HostParams> FindHostParams(std::string_view commandLine,
                                         std::optional<std::string_view> environment) {
  if (std::optional<HostParams> params = ParseHostParams(commandLine)) return params;
  if (environment) return ParseHostParams(*environment);
  return std::nullopt;
}

}  // namespace keldran::gridutil
