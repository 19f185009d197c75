#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

using Bytes = std::vector<std::uint8_t>;

// The per-user key-value store for the few small preferences ("strataMode",
// "strataAdvanceTrigger", "showModeChooserAtStartup", "hasSeenQuickStart").
// Main thread only.
class Settings {
public:
    virtual ~Settings() = default;

    virtual bool contains(std::string_view key) const = 0;
    // The stored text, or none when absent or not text.
    virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
    // The stored Boolean, or none when absent or when the value is no Boolean in any form. Stores
    // that keep everything as text hand "true"/"false" back as Booleans here.
    virtual std::optional<bool> boolValue(std::string_view key) const = 0;
    // The stored bytes, or none when absent.
    virtual std::optional<Bytes> bytesValue(std::string_view key) const = 0;

    virtual void setString(std::string_view key, std::string_view value) = 0;
    virtual void setBool(std::string_view key, bool value) = 0;
    virtual void setBytes(std::string_view key, const Bytes& value) = 0;
    virtual void remove(std::string_view key) = 0;
};

// Reads text the way a text-only store hands a Boolean back: "true"/"false" (any case), "1"/"0".
std::optional<bool> parseBoolText(std::string_view text);

} // namespace strata
