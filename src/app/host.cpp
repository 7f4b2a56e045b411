#include "app/host.h"

#include "platform/boundary.h"

namespace keldran {

Host::Host(Platform& platform, ObjectMaker makeObject)
    : platform(platform),
      log(platform),
      events(log, config.LogPre),
      messages(RegisteredMessages::Register(platform.windowing)),
      keyDeletion(platform, events),
      window(platform, messages, config, flags, supervisor),
      supervisor(platform, events, window.tray(), config, flags,
                 [this] { keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys); }),
      metrics(platform, events, config, supervisor),
      ini(platform.files, config),
      service(platform, events, config, supervisor, metrics, window,
              [this, makeObject = std::move(makeObject)] { return makeObject(*this); }),
      calls(platform, events, ini, supervisor, window, service) {
  // Events become tray balloons, or the pending notice before a client runs.
  log.setEventHook(
      [](std::uintptr_t context, const char* text, std::uint16_t type) {
        reinterpret_cast<TrayIcon*>(context)->OnEvent(text, type);
      },
      reinterpret_cast<std::uintptr_t>(&window.tray()));
  // A failure that an OS callback caught and could not pass on becomes an error record.
  SetBoundaryFailureSink(
      [](void* context, const char* where) noexcept {
        try {
          const std::string text = std::string("An unexpected failure in ") + where +
                                   " was caught there; the host goes on";
          (void)static_cast<ComponentLog*>(context)->logError(category::kRun, event::kText,
                                                              text.c_str());
        } catch (...) {
          // Out of memory for the text: the debugger line the callback wrote stays the record.
        }
      },
      &events);
}

Host::~Host() {
  SetBoundaryFailureSink(nullptr, nullptr);
  log.setEventHook(nullptr, 0);
}

}  // namespace keldran
