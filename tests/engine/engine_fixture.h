#pragma once

#include "engine/app_state.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace strata::testing {

// A song as a name and its section names; every section gets one default step.
struct SongSpec {
    std::string name;
    std::vector<std::string> sections;
};

inline Setlist makeSet(const std::vector<SongSpec>& songs,
                       const std::vector<std::string>& layers = {"A", "B", "C", "D"}) {
    Setlist set;
    set.name = "Test Set";
    for (const auto& spec : songs) {
        Song song;
        song.name = spec.name;
        for (const auto& name : spec.sections)
            song.sections.push_back(Section::named(name));
        set.songs.push_back(std::move(song));
    }
    for (std::size_t i = 0; i < layers.size(); ++i) {
        Layer layer;
        layer.name = layers[i];
        layer.channel = static_cast<std::int64_t>(i) + 1;
        set.layers.push_back(std::move(layer));
    }
    return set;
}

// Songs named S0, S1, ... with the given numbers of sections, named s0, s1, ...
inline Setlist makeSetOfSizes(const std::vector<int>& sectionCounts) {
    std::vector<SongSpec> songs;
    for (std::size_t i = 0; i < sectionCounts.size(); ++i) {
        SongSpec spec{"S" + std::to_string(i), {}};
        for (int k = 0; k < sectionCounts[i]; ++k)
            spec.sections.push_back("s" + std::to_string(k));
        songs.push_back(spec);
    }
    return makeSet(songs);
}

// An AppState on virtual time, in-memory settings and a store folder of its own.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() { app = std::make_unique<AppState>(location(), settings, loop); }

    StoreLocation location() const { return StoreLocation::under(dir.path()); }

    void load(Setlist set, StrataMode mode = StrataMode::pro) {
        app->setSetlist(std::move(set));
        app->setMode(mode);
    }

    const Layer& layer(const std::string& name) const {
        for (const auto& l : app->setlist().layers)
            if (l.name == name)
                return l;
        throw std::runtime_error("no layer " + name);
    }
    Uuid id(const std::string& layerName) const { return layer(layerName).id; }
    UuidSet ids(const std::vector<std::string>& layerNames) const {
        UuidSet set;
        for (const auto& n : layerNames)
            set.insert(id(n));
        return set;
    }
    // Layer names of a set of ids, sorted, for readable failures.
    std::vector<std::string> names(const UuidSet& set) const {
        std::vector<std::string> out;
        for (const auto& l : app->setlist().layers)
            if (set.contains(l.id))
                out.push_back(l.name);
        std::sort(out.begin(), out.end());
        return out;
    }
    const Song& song(std::size_t i = 0) const { return app->setlist().songs.at(i); }
    const Section& section(std::size_t k, std::size_t songIndex = 0) const {
        return song(songIndex).sections.at(k);
    }
    std::vector<std::string> sectionNames(std::size_t songIndex = 0) const {
        std::vector<std::string> out;
        for (const auto& s : song(songIndex).sections)
            out.push_back(s.name);
        return out;
    }
    std::vector<std::string> songNames() const {
        std::vector<std::string> out;
        for (const auto& s : app->setlist().songs)
            out.push_back(s.name);
        return out;
    }
    void position(std::int64_t song, std::int64_t section, std::int64_t step) {
        app->setCurrentSongIndex(song);
        app->setCurrentSectionIndex(section);
        app->setCurrentStepIndex(step);
    }
    // Fires a hand-made Moment so that the current section has Moment bookkeeping to lose.
    Moment armMomentState() {
        Moment m;
        m.name = "armed";
        app->fireManually(m);
        return m;
    }

    TempDir dir;
    MemorySettings settings;
    VirtualMainLoop loop;
    std::unique_ptr<AppState> app;
};

} // namespace strata::testing
