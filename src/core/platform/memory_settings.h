#pragma once

#include "platform/settings.h"

#include <map>
#include <variant>

namespace strata {

// Settings kept in memory, for tests and for runs that must not touch the user's preferences.
class MemorySettings final : public Settings {
public:
    using Value = std::variant<std::string, bool, Bytes>;

    bool contains(std::string_view key) const override;
    std::optional<std::string> stringValue(std::string_view key) const override;
    std::optional<bool> boolValue(std::string_view key) const override;
    std::optional<Bytes> bytesValue(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBool(std::string_view key, bool value) override;
    void setBytes(std::string_view key, const Bytes& value) override;
    void remove(std::string_view key) override;

    // Counts writes per key, so tests can see that a write happened even of an unchanged value.
    int writeCount(std::string_view key) const;

private:
    std::map<std::string, Value, std::less<>> values_;
    std::map<std::string, int, std::less<>> writes_;
};

} // namespace strata
