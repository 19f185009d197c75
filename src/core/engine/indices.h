#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <optional>

// Small helpers for the signed indices the engine works with (a section index may be -1).
namespace strata::indices {

inline std::int64_t count(const auto& container) {
    return static_cast<std::int64_t>(container.size());
}

inline bool inRange(std::int64_t index, const auto& container) {
    return index >= 0 && index < count(container);
}

inline std::optional<Uuid> idOf(const Section* section) {
    return section ? std::optional<Uuid>(section->id) : std::nullopt;
}

} // namespace strata::indices
