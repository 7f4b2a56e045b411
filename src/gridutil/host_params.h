#pragma once
// Who the host is, as a client learns it: the host appends " /ServiceID=<id> /ServiceName=<name>"
// to the client's command line and puts the same text into the environment variable
// KeldranService_PDF_PARAMS. The values carry no quotes, and a service name may hold blanks.

#include <optional>
#include <string>
#include <string_view>

namespace keldran::gridutil {

inline constexpr char kParamsVariable[] = "KeldranService_PDF_PARAMS";

struct HostParams {
  std::string serviceId;
  std::string serviceName;
  bool operator==(const HostParams&) const = default;
};

// The parameters in the text: the value of its last "/ServiceID=" (up to " /ServiceName=" or the
// end), and everything after "/ServiceName=" as the name; blanks around the values are dropped.
// Nothing when there is no ServiceID.
std::optional<HostParams> ParseHostParams(std::string_view text);

// The command line's parameters; when it has none (a script started by a wrapper that did not
// pass them on), those of the environment variable's value.
std::optional<HostParams> FindHostParams(std::string_view commandLine,
                                         std::optional<std::string_view> environment);

}  // namespace keldran::gridutil
