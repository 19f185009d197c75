#include "platform/memory_settings.h"

#include <algorithm>
#include <cctype>

namespace strata {

std::optional<bool> parseBoolText(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true" || lower == "1")
        return true;
    if (lower == "false" || lower == "0")
        return false;
    return std::nullopt;
}

bool MemorySettings::contains(std::string_view key) const {
    return values_.find(key) != values_.end();
}

std::optional<std::string> MemorySettings::stringValue(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    if (auto s = std::get_if<std::string>(&it->second))
        return *s;
    return std::nullopt;
}

std::optional<bool> MemorySettings::boolValue(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    if (auto b = std::get_if<bool>(&it->second))
        return *b;
    if (auto s = std::get_if<std::string>(&it->second))
        return parseBoolText(*s);
    return std::nullopt;
}

std::optional<Bytes> MemorySettings::bytesValue(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    if (auto b = std::get_if<Bytes>(&it->second))
        return *b;
    if (auto s = std::get_if<std::string>(&it->second))
        return Bytes(s->begin(), s->end());
    return std::nullopt;
}

void MemorySettings::setString(std::string_view key, std::string_view value) {
    values_[std::string(key)] = std::string(value);
    ++writes_[std::string(key)];
}

void MemorySettings::setBool(std::string_view key, bool value) {
    values_[std::string(key)] = value;
    ++writes_[std::string(key)];
}

void MemorySettings::setBytes(std::string_view key, const Bytes& value) {
    values_[std::string(key)] = value;
    ++writes_[std::string(key)];
}

void MemorySettings::remove(std::string_view key) {
    auto it = values_.find(key);
    if (it != values_.end())
        values_.erase(it);
    ++writes_[std::string(key)];
}

int MemorySettings::writeCount(std::string_view key) const {
    auto it = writes_.find(key);
    return it == writes_.end() ? 0 : it->second;
}

} // namespace strata
