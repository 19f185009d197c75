#include "midi/ardour_midi_map.h"

#include "model/utf8.h"
#include "platform/file_io.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace strata {
namespace {

// Appends `text` with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD
// and control characters by blanks: the map must stay a well-formed document whatever a name
// holds, or the host drops all of it.
void appendText(std::string& out, std::string_view text, bool attribute) {
    appendValidUtf8(out, text, [attribute](std::string& o, unsigned char c) {
        if (c < 0x20 || c == 0x7F)
            o.push_back(' ');
        else if (c == '&')
            o += "&amp;";
        else if (c == '<')
            o += "&lt;";
        else if (c == '>')
            o += "&gt;";
        else if (c == '"' && attribute)
            o += "&quot;";
        else
            o.push_back(static_cast<char>(c));
    });
}

std::string attribute(std::string_view text) {
    std::string out;
    appendText(out, text, true);
    return out;
}

// Comment text: also no "--", which would end the comment early.
std::string commentText(std::string_view text) {
    std::string out;
    appendText(out, text, false);
    for (std::size_t at = out.find("--"); at != std::string::npos; at = out.find("--", at))
        out.replace(at, 2, "- -");
    return out;
}

} // namespace

std::string ArdourMidiMap::generate(const Setlist& set) {
    const std::int64_t offset = std::max<std::int64_t>(set.effectiveTrackOffset(), 0);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<ArdourMIDIBindings version=\"1.0.0\" name=\"Strata: " + attribute(set.name) + "\">\n";
    out += "  <!-- Written by Strata. Each layer's mute CC toggles the mute of the track at the "
           "layer's position from the bank offset (" +
           std::to_string(offset) + "): save the map again when that changes. -->\n";

    // Which layer drives each channel and controller.
    std::vector<std::pair<std::pair<int, int>, std::size_t>> bound;
    for (std::size_t i = 0; i < set.layers.size(); ++i) {
        const Layer& layer = set.layers[i];
        const std::string what =
            "Layer " + std::to_string(i + 1) + " \"" + commentText(layer.name) + "\"";
        // A layer without a port sends nothing, so it takes no binding away from another.
        if (layer.portName.empty()) {
            out += "  <!-- " + what + " has no port: not bound. -->\n";
            continue;
        }
        const std::int64_t number = layer.muteCC.value_or(20 + static_cast<std::int64_t>(i));
        if (number < 0 || number > 255) {
            out += "  <!-- " + what + " has no CC that can be sent: not bound. -->\n";
            continue;
        }
        // As CC mute output sends it: the channel clamped, the number as a 7-bit controller.
        const int channel = static_cast<int>(std::clamp<std::int64_t>(layer.channel, 1, 16));
        const int cc = static_cast<int>(number & 0x7F);
        const auto key = std::make_pair(channel, cc);
        const auto earlier =
            std::find_if(bound.begin(), bound.end(), [&](const auto& b) { return b.first == key; });
        if (earlier != bound.end()) {
            out += "  <!-- " + what + " uses CC " + std::to_string(cc) + " on channel " +
                   std::to_string(channel) + " like layer " + std::to_string(earlier->second + 1) +
                   ": not bound. -->\n";
            continue;
        }
        bound.emplace_back(key, i);
        const std::int64_t track = offset + static_cast<std::int64_t>(i) + 1;
        out += "  <!-- " + what + " -->\n";
        out += "  <Binding channel=\"" + std::to_string(channel) + "\" ctl=\"" +
               std::to_string(cc) + "\" uri=\"/route/mute " + std::to_string(track) + "\"/>\n";
    }
    out += "</ArdourMIDIBindings>\n";
    return out;
}

bool ArdourMidiMap::save(const Setlist& set, const std::filesystem::path& path,
                         std::string* error) {
    return writeFileAtomically(path, generate(set), error);
}

} // namespace strata
