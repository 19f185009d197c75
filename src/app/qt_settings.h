#pragma once

#include "platform/settings.h"

#include <QSettings>

namespace strata {

// The per-user preferences on QSettings (organization "Korvel", application "Strata"; on Linux
// $XDG_CONFIG_HOME/Korvel/Strata.conf). The INI format hands every value back as text, so Booleans
// are read tolerantly: "false" is false, not a truthy string.
class QtSettings final : public Settings {
public:
    QtSettings();
    // A settings file at an explicit path (tests).
    explicit QtSettings(const QString& iniPath);

    bool contains(std::string_view key) const override;
    std::optional<std::string> stringValue(std::string_view key) const override;
    std::optional<bool> boolValue(std::string_view key) const override;
    std::optional<Bytes> bytesValue(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBool(std::string_view key, bool value) override;
    void setBytes(std::string_view key, const Bytes& value) override;
    void remove(std::string_view key) override;

    void sync() { settings_.sync(); }

private:
    mutable QSettings settings_;
};

} // namespace strata
