#pragma once
// The client's surroundings as the INI file gives them: its environment ([Environment]), its
// priority and processors, and the exit codes that say it is done. Each value parses on its own,
// so that a run refuses a bad one and /Check names it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/files.h"

namespace keldran {

class IniReader;

// "idle", "below normal", "normal", "above normal" or "high" (any case; the blank may be left
// out or written as "-" or "_"): the priority class. Empty: 0, as the system chooses.
std::optional<std::uint32_t> ParsePriority(const std::string& text, std::string* why);
// Processor numbers and ranges, comma-separated ("0,2-3"), each 0 to 63: the affinity mask.
// Empty: 0, every processor.
std::optional<std::uint64_t> ParseAffinity(const std::string& text, std::string* why);
// Exit codes, comma-separated, each a whole number (negative ones are the HRESULT-like codes as
// the process ends with them, so -1 is 4294967295). Empty: none.
std::optional<std::vector<std::uint32_t>> ParseExitCodes(const std::string& text, std::string* why);

// Reads Priority, Affinity and StopExitCodes from [Service] and the variables of [Environment]
// (each "NAME=VALUE", the value with the INI macros) into *config. A bad value is "Key: why" in
// *problems; false when there was one.
bool LoadClientSettings(IFileSystem& files, const IniReader& ini, Configuration* config,
                        std::vector<std::string>* problems);

}  // namespace keldran
