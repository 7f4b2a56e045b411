#pragma once
// Reading Windows profile (INI) text the way GetPrivateProfileString, GetPrivateProfileInt and
// GetPrivateProfileSection do, with their buffer-size cuts.

#include <cstdint>
#include <optional>
#include <string>

namespace keldran::fake::profile {

std::uint32_t GetString(const std::optional<std::string>& fileText,
                        const std::optional<std::string>& section,
                        const std::optional<std::string>& key, const std::string& defaultValue,
                        std::uint32_t bufferSize, std::string* out);
std::uint32_t GetInt(const std::optional<std::string>& fileText, const std::string& section,
                     const std::string& key, std::int32_t defaultValue);
std::uint32_t GetSection(const std::optional<std::string>& fileText, const std::string& section,
                         std::uint32_t bufferSize, std::string* out);

}  // namespace keldran::fake::profile
