#include "app/host.h"

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
}

Host::~Host() { log.setEventHook(nullptr, 0); }

}  // namespace keldran
