#pragma once

#include "model/setlist.h"

#include "json/result.h"
#include <optional>
#include <string>
#include <string_view>

namespace strata {

// The setlist document as stored in "setlist.json": pretty-printed UTF-8 JSON with sorted keys,
// optional fields left out (never null), UUIDs in upper case. Reading is tolerant where the
// document allows fallbacks and strict elsewhere.
//
// Readers never throw and accept any bytes. Documents nested deeper than kMaxJsonDepth are
// rejected before they are parsed: the setlist itself is about ten levels deep.
inline constexpr int kMaxJsonDepth = 128;

// The decoded set, or why the document is rejected as a whole (a short reason for diagnostics; the
// wording is not stable).
Result<Setlist> decodeSetlist(std::string_view json);
// The document's bytes; none only when the set cannot be encoded. Strings that are not valid UTF-8
// are written with U+FFFD in place of the bad bytes, and a tempo that is not a finite number is
// left out, so that one bad value never stops the whole set from being saved.
std::optional<std::string> encodeSetlist(const Setlist& setlist);

// The JSON form of one trigger (also how the NEXT trigger is kept in the settings store).
Result<AdvanceTrigger> decodeAdvanceTrigger(std::string_view json);
std::optional<std::string> encodeAdvanceTrigger(const AdvanceTrigger& trigger);

// The JSON form of one anchor, e.g. {"barsAfterStart":{"_0":4}}. A rejected anchor whose object
// does not hold exactly one case name reports "Invalid number of keys found, expected one.".
Result<FireAnchor> decodeFireAnchor(std::string_view json);
std::string encodeFireAnchor(const FireAnchor& anchor);

} // namespace strata
