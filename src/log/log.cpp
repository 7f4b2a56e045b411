// Placeholder bodies until the log writer lands.
#include "log/log.h"

namespace keldran {

struct Log::State {};

Log::Log(Platform&) : state_(std::make_unique<State>()) {}
Log::~Log() = default;
void Log::logDebug(const std::string&, const char*) noexcept {}
void Log::setLogDir(const char*) noexcept {}
void Log::setLogTrace(bool) noexcept {}
void Log::setEventSourceName(const std::string&) noexcept {}
std::string Log::eventSourceName() const { return {}; }
void Log::logEvent(std::uint16_t, std::uint16_t, std::uint32_t, const char* const*, int,
                   const char*) noexcept {}
void Log::setEventHook(EventHook, std::uintptr_t) noexcept {}
bool Log::logFileWrite(const std::string&, const char*, std::uint32_t) noexcept { return false; }
FileHandle Log::logFileOpen(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t) noexcept {
  return FileHandle{};
}
void Log::logFail(int, const char*, ...) noexcept {}
bool Log::failureReported(int) const { return false; }
bool Log::fileLoggingOn() const { return false; }
bool Log::traceOn() const { return false; }

}  // namespace keldran
