#pragma once

#include "support/core_stack.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace strata::testing {

using Names = std::vector<std::string>;

// Songs as a title followed by section names; each section has one default step. Layers A-D.
inline Setlist makeSet(const std::vector<Names>& songs,
                       const Names& layers = {"A", "B", "C", "D"}) {
    Setlist set;
    set.name = "Test Set";
    for (const auto& entry : songs) {
        Song song = Song::fresh();
        song.name = entry.at(0);
        for (std::size_t i = 1; i < entry.size(); ++i)
            song.sections.push_back(Section::named(entry[i]));
        set.songs.push_back(std::move(song));
    }
    for (const auto& name : layers) {
        Layer layer = Layer::fresh();
        layer.name = name;
        set.layers.push_back(std::move(layer));
    }
    return set;
}

// The state alone, from the core stack: virtual time, in-memory settings, a store folder of its
// own.
class EngineTest : public ::testing::Test, public CoreStack {
protected:
    EngineTest() { makeState(); }

    void load(Setlist set, StrataMode mode = StrataMode::pro) {
        app->setSetlist(std::move(set));
        app->setMode(mode);
    }
    void position(std::int64_t song, std::int64_t section, std::int64_t step) {
        app->setCurrentSongIndex(song);
        app->setCurrentSectionIndex(section);
        app->setCurrentStepIndex(step);
    }
    std::array<std::int64_t, 3> positionNow() const {
        return {app->currentSongIndex(), app->currentSectionIndex(), app->currentStepIndex()};
    }
    // Fires a hand-made Moment, so that the current section has Moment bookkeeping to lose.
    Moment armMomentState() {
        Moment m = Moment::fresh();
        app->fireManually(m);
        return m;
    }

    const Layer& layer(const std::string& name) const {
        const auto& layers = app->setlist().layers;
        return *std::find_if(layers.begin(), layers.end(),
                             [&](const Layer& l) { return l.name == name; });
    }
    // Names of the layers in a set of ids, sorted.
    Names names(const UuidSet& ids) const {
        Names out;
        for (const auto& l : app->setlist().layers)
            if (ids.contains(l.id))
                out.push_back(l.name);
        std::sort(out.begin(), out.end());
        return out;
    }
    const Song& song(std::size_t i = 0) const { return app->setlist().songs.at(i); }
    const Section& section(std::size_t k, std::size_t songIndex = 0) const {
        return song(songIndex).sections.at(k);
    }
    Names sectionNames(std::size_t songIndex = 0) const {
        Names out;
        for (const auto& s : song(songIndex).sections)
            out.push_back(s.name);
        return out;
    }
    Names songNames() const {
        Names out;
        for (const auto& s : app->setlist().songs)
            out.push_back(s.name);
        return out;
    }
};

} // namespace strata::testing
