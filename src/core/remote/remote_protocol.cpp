#include "remote/remote_protocol.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

namespace strata {

namespace {

std::optional<std::int64_t> indexOf(const nlohmann::json& object) {
    const auto it = object.find("index");
    if (it == object.end() || !it->is_number_integer())
        return std::nullopt;
    const auto value = it->get<std::int64_t>();
    if (value < 0 || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return value;
}

std::string clipped(std::string text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    // Never cut inside a character: step back over continuation bytes.
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

} // namespace

std::optional<PageMessage> decodePageMessage(std::string_view text) {
    if (text.empty() || text.size() > kMaxPageMessageBytes)
        return std::nullopt;
    // The size cap bounds the nesting depth the parser may recurse into.
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    if (const auto cmd = object.find("cmd"); cmd != object.end()) {
        if (!cmd->is_string())
            return std::nullopt;
        const auto& name = cmd->get_ref<const std::string&>();
        using Kind = RemoteCommand::Kind;
        if (name == "next")
            return RemoteCommand{Kind::next, 0};
        if (name == "prev")
            return RemoteCommand{Kind::prev, 0};
        if (name == "allon")
            return RemoteCommand{Kind::allOn, 0};
        if (name == "section" || name == "song") {
            const auto index = indexOf(object);
            if (!index)
                return std::nullopt;
            return RemoteCommand{name == "song" ? Kind::song : Kind::section, *index};
        }
        return std::nullopt;
    }
    if (const auto pair = object.find("pair"); pair != object.end()) {
        if (!pair->is_string())
            return std::nullopt;
        std::string device;
        if (const auto d = object.find("device"); d != object.end() && d->is_string())
            device = clipped(d->get<std::string>(), kMaxDeviceNameBytes);
        return PairRequest{pair->get<std::string>(), std::move(device)};
    }
    if (const auto key = object.find("key"); key != object.end()) {
        if (!key->is_string())
            return std::nullopt;
        return ControlKey{key->get<std::string>()};
    }
    return std::nullopt;
}

std::string encodeStateJson(const RemoteState& state, bool canControl) {
    const nlohmann::json object = {
        {"set", state.setName},
        {"songs", state.songs},
        {"currentSong", state.currentSong},
        {"song", state.song},
        {"now", state.now},
        {"next", state.next},
        {"section", state.section},
        {"sections", state.sections},
        {"step", state.step},
        {"steps", state.steps},
        {"cue", state.cueConnected},
        {"midi", state.midiAvailable},
        {"allOn", state.allOn},
        {"control", canControl},
    };
    // Names come from the set file and may hold broken UTF-8: replaced, never thrown over.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string encodePairedJson(std::string_view key) {
    return nlohmann::json{{"paired", std::string(key)}}.dump();
}

std::string encodeErrorJson(std::string_view reason) {
    return nlohmann::json{{"error", std::string(reason)}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<RemoteCommand> commandFromOsc(const osc::Message& message) {
    using Kind = RemoteCommand::Kind;
    const std::string& a = message.address;
    if (a == "/strata/next")
        return RemoteCommand{Kind::next, 0};
    if (a == "/strata/prev")
        return RemoteCommand{Kind::prev, 0};
    if (a == "/strata/allon")
        return RemoteCommand{Kind::allOn, 0};
    if (a == "/strata/section" || a == "/strata/song") {
        const auto index = osc::intArgument(message, 0);
        if (!index || *index < 0)
            return std::nullopt;
        return RemoteCommand{a == "/strata/song" ? Kind::song : Kind::section, *index};
    }
    return std::nullopt;
}

osc::Message oscStateMessage(const RemoteState& state) {
    const auto narrow = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(
            v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    };
    return osc::Message{"/strata/state",
                        {narrow(state.currentSong), narrow(state.section), narrow(state.step),
                         state.song, state.now, state.next}};
}

} // namespace strata
