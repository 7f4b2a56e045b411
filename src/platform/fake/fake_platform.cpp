#include "platform/fake/fake_platform.h"

namespace keldran::fake {

std::string FakePlatform::DefaultMessageSource() {
#ifdef KELDRAN_MESSAGE_SOURCE
  return KELDRAN_MESSAGE_SOURCE;
#else
  return std::string();
#endif
}

FakePlatform::FakePlatform(const std::string& messageSource, IFileSystem* realFiles)
    : texts(messageSource),
      files(faults, texts),
      registry(faults, texts),
      processes(faults, texts, clock),
      sync(faults, texts, clock),
      windowing(faults, texts, clock, files, processes),
      dialogs(faults, texts),
      com(faults, texts),
      services(faults, texts),
      eventLog(faults, texts),
      shell(faults, texts, files),
      platform_{registry, services,  eventLog, processes, realFiles ? *realFiles : files,
                clock,    windowing, dialogs,  com,       shell,
                sync,     texts} {
  files.AddDirectory("C:\\Program Files\\Keldran");
}

}  // namespace keldran::fake
