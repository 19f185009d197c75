#include "json/json_reading.h"

#include <cmath>
#include <limits>

namespace strata::json {

namespace {

enum class Gate { open, tooDeep, nul };

// Counts the nesting of arrays and objects, following the parser's own view of strings and
// escapes up to the first syntax error, after which the parser stops anyway: so the parser never
// goes deeper than this pass allows. Unbalanced input is the parser's to reject.
Gate scan(std::string_view text, const ParseRules& rules) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (c == '\0' && rules.refuseNul)
            return Gate::nul;
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > rules.maxDepth)
                return Gate::tooDeep;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return Gate::open;
}

} // namespace

Result<Json> parse(std::string_view text, const ParseRules& rules,
                   const Json::parser_callback_t& keep) {
    switch (scan(text, rules)) {
    case Gate::tooDeep:
        return Result<Json>::failure("nested deeper than " + std::to_string(rules.maxDepth) +
                                     " levels");
    case Gate::nul:
        return Result<Json>::failure("contains a NUL byte");
    case Gate::open:
        break;
    }
    Json document = Json::parse(text, keep, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (document.is_discarded())
        return Result<Json>::failure("not a JSON document");
    return document;
}

Result<std::int64_t> readInteger(const Json& value, IntegralFloats floats) {
    using R = Result<std::int64_t>;
    switch (value.type()) {
    case Json::value_t::number_integer:
        return value.get_ref<const Json::number_integer_t&>();
    case Json::value_t::number_unsigned: {
        // The parser keeps integers above the signed range as unsigned.
        const auto u = value.get_ref<const Json::number_unsigned_t&>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return R::failure("integer out of range");
        return static_cast<std::int64_t>(u);
    }
    case Json::value_t::number_float: {
        if (floats == IntegralFloats::refused)
            break;
        const double d = value.get_ref<const Json::number_float_t&>();
        // 2^63 is exactly representable; the valid range is [-2^63, 2^63).
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(d) || std::trunc(d) != d || d < -limit || d >= limit)
            break;
        return static_cast<std::int64_t>(d);
    }
    default:
        break;
    }
    return R::failure("expected an integer");
}

Result<double> readNumber(const Json& value) {
    if (!value.is_number())
        return Result<double>::failure("expected a number");
    const double d = value.get<double>();
    if (!std::isfinite(d))
        return Result<double>::failure("number out of range");
    return d;
}

Result<std::string> readString(const Json& value) {
    if (!value.is_string())
        return Result<std::string>::failure("expected a string");
    return value.get_ref<const std::string&>();
}

Result<bool> readBool(const Json& value) {
    if (!value.is_boolean())
        return Result<bool>::failure("expected a boolean");
    return value.get_ref<const Json::boolean_t&>();
}

Fields::Fields(const Json& object) : object_(object) {
    if (!object.is_object())
        reason_ = "expected an object";
}

void Fields::fail(std::string reason) {
    if (ok())
        reason_ = reason.empty() ? std::string("invalid value") : std::move(reason);
}

const Json* Fields::find(std::string_view key) const {
    if (!object_.is_object())
        return nullptr;
    const auto it = object_.find(key);
    if (it == object_.end() || it->is_null())
        return nullptr;
    return &*it;
}

} // namespace strata::json
