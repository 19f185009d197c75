#pragma once

#include "json/result.h"
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// Typed reading of JSON documents that come from outside (a stored file, a network datagram):
// one gate in front of the parser, typed reads of single values that fail with a reason, and a
// reader for the keys of one object. Nothing here throws.
namespace strata::json {

using Json = nlohmann::json;

struct ParseRules {
    // Documents that open more arrays and objects at once than this are refused before they are
    // parsed, so that hostile input cannot drive the parser's recursion.
    int maxDepth = 0;
    // A JSON text never holds a raw NUL, but the parser takes one as the end of the input and
    // accepts whatever trails it. Untrusted input refuses it outright.
    bool refuseNul = false;
};

// The parsed document. Strict JSON, no comments. `keep`, when given, is the parser's filter: it
// decides which values are stored at all.
Result<Json> parse(std::string_view text, const ParseRules& rules,
                   const Json::parser_callback_t& keep = nullptr);

// Whether a JSON number written with a fraction or an exponent counts as an integer when its
// value is integral (3.0 as 3). A stored document holds only what this program wrote, so it
// refuses them; a datagram from another program may write integers either way.
enum class IntegralFloats { refused, accepted };

// Integers are signed 64-bit: anything outside that range fails.
Result<std::int64_t> readInteger(const Json& value, IntegralFloats floats);
// Any finite JSON number.
Result<double> readNumber(const Json& value);
Result<std::string> readString(const Json& value);
Result<bool> readBool(const Json& value);

// The value type a reader returns inside its Result.
template <typename Read>
using ReadType = typename std::invoke_result_t<Read, const Json&>::value_type;

// An array is read as a whole: one element that fails makes the whole array fail.
template <typename Read>
Result<std::vector<ReadType<Read>>> readArray(const Json& value, Read read) {
    using Items = std::vector<ReadType<Read>>;
    if (!value.is_array())
        return Result<Items>::failure("expected an array");
    Items items;
    items.reserve(value.size());
    for (const auto& element : value) {
        auto item = read(element);
        if (!item)
            return Result<Items>::failure(item);
        items.push_back(std::move(*item));
    }
    return items;
}

// Reads the keys of one JSON object. A missing or null key is absent. The first failure (not an
// object, a missing required key, a present value that does not read) is kept, and every read
// after it is skipped; tolerant reads never fail.
class Fields {
public:
    explicit Fields(const Json& object);

    bool ok() const { return reason_.empty(); }
    const std::string& reason() const { return reason_; }
    // Records a failure of the caller's own (the first one is kept).
    void fail(std::string reason);

    // The value of a key that is present and not null.
    const Json* find(std::string_view key) const;

    // A key that must be present and read.
    template <typename Read>
    ReadType<Read> required(std::string_view key, Read read) {
        if (!ok())
            return {};
        const Json* value = find(key);
        if (!value) {
            fail("\"" + std::string(key) + "\" is missing");
            return {};
        }
        return take(read(*value));
    }

    // A key that may be absent; present, it must read.
    template <typename Read>
    std::optional<ReadType<Read>> optional(std::string_view key, Read read) {
        const Json* value = ok() ? find(key) : nullptr;
        if (!value)
            return std::nullopt;
        auto result = read(*value);
        if (!result)
            fail(result.reason());
        return result;
    }

    // A key whose absence or damage leaves the caller's fallback: never fails.
    template <typename Read>
    std::optional<ReadType<Read>> tolerant(std::string_view key, Read read) const {
        const Json* value = ok() ? find(key) : nullptr;
        if (!value)
            return std::nullopt;
        return read(*value);
    }

    // `value` when every read worked, else the first failure.
    template <typename T>
    Result<T> finish(T value) const {
        if (!ok())
            return Result<T>::failure(reason_);
        return value;
    }

private:
    template <typename T>
    T take(Result<T> result) {
        if (!result) {
            fail(result.reason());
            return {};
        }
        return std::move(*result);
    }

    const Json& object_;
    std::string reason_;
};

} // namespace strata::json
