#include "qt_settings.h"

namespace strata {
namespace {
QString qkey(std::string_view key) {
    return QString::fromUtf8(key.data(), qsizetype(key.size()));
}
} // namespace

// The native format: on Linux an INI file named <application>.conf, which is where the
// preferences are documented to live; the INI format would name it Strata.ini instead.
QtSettings::QtSettings()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, "Korvel", "Strata") {}

QtSettings::QtSettings(const QString& iniPath) : settings_(iniPath, QSettings::IniFormat) {}

bool QtSettings::contains(std::string_view key) const {
    return settings_.contains(qkey(key));
}

std::optional<std::string> QtSettings::stringValue(std::string_view key) const {
    const QVariant v = settings_.value(qkey(key));
    if (!v.isValid() || v.typeId() == QMetaType::QByteArray)
        return std::nullopt;
    if (v.typeId() != QMetaType::QString && !v.canConvert<QString>())
        return std::nullopt;
    return v.toString().toStdString();
}

std::optional<bool> QtSettings::boolValue(std::string_view key) const {
    const QVariant v = settings_.value(qkey(key));
    if (!v.isValid())
        return std::nullopt;
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString)
        return parseBoolText(v.toString().toStdString());
    return std::nullopt;
}

std::optional<Bytes> QtSettings::bytesValue(std::string_view key) const {
    const QVariant v = settings_.value(qkey(key));
    if (!v.isValid())
        return std::nullopt;
    const QByteArray b =
        v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    return Bytes(b.begin(), b.end());
}

void QtSettings::setString(std::string_view key, std::string_view value) {
    settings_.setValue(qkey(key), QString::fromUtf8(value.data(), qsizetype(value.size())));
}

void QtSettings::setBool(std::string_view key, bool value) {
    settings_.setValue(qkey(key), value);
}

void QtSettings::setBytes(std::string_view key, const Bytes& value) {
    settings_.setValue(qkey(key), QByteArray(reinterpret_cast<const char*>(value.data()),
                                             qsizetype(value.size())));
}

void QtSettings::remove(std::string_view key) {
    settings_.remove(qkey(key));
}

} // namespace strata
