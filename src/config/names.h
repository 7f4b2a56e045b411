#pragma once
// Fixed names of this build: the service, the INI file, the COM identities and the variable that
// carries the client's parameters.

namespace keldran::names {

constexpr const char* kServiceName = "KeldranGridAgent321";
// Another component's service is "KeldranGridAgent321$<component>", as Windows names the
// services of instances.
constexpr char kInstanceSeparator = '$';
constexpr const char* kServicePrefix = "KeldranGridAgent";
constexpr const char* kDisplayName = "Keldran Grid Agent 3.21";
constexpr const char* kDescription = "Keldran Grid Agent Service 3.21";
constexpr const char* kIniBaseName = "KeldranGridAgent";
constexpr const char* kAtFormServicePrefix = "KeldranService.";
constexpr const char* kDefaultComponent = "Grid";
constexpr const char* kIniSection = "Service";
// The service account, "account;password": its password never leaves the host.
constexpr const char* kLogonKey = "Logon";
constexpr const char* kAppId = "{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}";
constexpr const char* kLibId = "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}";
constexpr const char* kClsid = "{C83D2E19-6B7A-4F05-8E41-D2A9B3C6F017}";
// The type library's interfaces (IService, IServiceStatus), whose Interface keys its
// registration writes.
constexpr const char* kInterfaceIds[] = {"{A7C4E2B9-5D31-4F86-B2E0-8C9D1F3A6B47}",
                                         "{82658623-4A52-4EDF-9324-56E0F9B18033}"};
// The type library's version, and the class's ProgID and name.
constexpr unsigned kLibMajor = 3;
constexpr unsigned kLibMinor = 21;
constexpr const char* kLibVersion = "3.21";
constexpr const char* kProgId = "KeldranGridAgent.3.21";
constexpr const char* kClassName = "Service Class";
constexpr const char* kClientParamsVariable = "KeldranService_PDF_PARAMS";
// Until the configuration names the product, the caption reads "Keldran  Service" (two blanks:
// the component is still empty).
constexpr const char* kUnconfiguredDisplayName = "Keldran  Service";

}  // namespace keldran::names

namespace keldran::service_timing {
// How long a stop waits for the client to end, and the preshutdown time registered with the
// service (the client's wait at shutdown and the teardown after it).
constexpr unsigned kStopWaitMs = 30000;
constexpr unsigned kPreshutdownTimeoutMs = 40000;
}  // namespace keldran::service_timing
