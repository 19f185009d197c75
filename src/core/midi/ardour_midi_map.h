#pragma once

#include "model/setlist.h"

#include <filesystem>
#include <string>

namespace strata {

// A binding map for Ardour's Generic MIDI control surface that binds every layer's mute CC (its
// channel and controller, as CC mute output sends them) to the mute of one track, so that the CC
// setup is one import instead of one MIDI learn per layer.
//
// Tracks are addressed by position, relative to the set's bank offset: the layer at position i
// (from 0) drives track offset + i + 1, Ardour's track number in the editor's order. So the
// tracks that Mackie Control would show for the set are the ones the CCs drive, and a map saved
// before the bank offset changes has to be saved again.
//
// Every layer of the set gets a binding, also those beyond the layers shown now (a binding
// nothing sends to costs nothing). A layer whose CC cannot be sent, or whose channel and CC a
// layer before it already uses (one CC can only drive one track), gets a comment saying so.
class ArdourMidiMap {
public:
    // The map's XML text (UTF-8).
    static std::string generate(const Setlist& set);
    // Writes the map atomically to `path`. On failure `error` (when given) receives the reason
    // and the file at `path` is left as it was.
    static bool save(const Setlist& set, const std::filesystem::path& path,
                     std::string* error = nullptr);
};

} // namespace strata
