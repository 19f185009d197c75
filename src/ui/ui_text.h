#pragma once

#include "model/setlist.h"
#include "model/uuid.h"

#include <QString>
#include <optional>
#include <string>
#include <string_view>

// Conversions between the core's text and ids and Qt's, for the view models' sources (moc does not
// read this header).
namespace strata {

inline QString qtext(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline QString qtext(const std::string& s) {
    return qtext(std::string_view(s));
}

inline QString qtext(const Uuid& id) {
    return QString::fromStdString(id.string());
}

inline std::optional<Uuid> parseUuid(const QString& text) {
    return Uuid::parse(text.toStdString());
}

// A layer as the editors name it: its name, or what it waits for while it has none.
inline QString layerDisplayName(const Layer& layer) {
    return layer.name.empty() ? QStringLiteral("waiting for DAW track name\u2026")
                              : qtext(layer.name);
}

} // namespace strata
