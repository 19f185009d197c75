#pragma once

#include "model/setlist.h"

#include <optional>
#include <string>
#include <string_view>

namespace strata {

// The setlist document as stored in "setlist.json": pretty-printed UTF-8 JSON with sorted keys,
// optional fields left out (never null), UUIDs in upper case. Reading is tolerant where the
// document allows fallbacks and strict elsewhere.

// The decoded set, or none when the document is rejected as a whole.
std::optional<Setlist> decodeSetlist(std::string_view json);
// The document's bytes; none only when the set cannot be encoded.
std::optional<std::string> encodeSetlist(const Setlist& setlist);

// The JSON form of one trigger (also how the NEXT trigger is kept in the settings store).
std::optional<AdvanceTrigger> decodeAdvanceTrigger(std::string_view json);
std::optional<std::string> encodeAdvanceTrigger(const AdvanceTrigger& trigger);

} // namespace strata
