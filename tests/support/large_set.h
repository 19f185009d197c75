#pragma once

#include "model/setlist.h"

#include <string>

namespace strata::testing {

// The large set that storage, start-up and memory figures are taken with: `songs` songs (200 by
// default) of 12 sections x 4 steps, 4 Moments per section, and 16 layers with 4 rules each.
// Header-only, so that benchmarks built without the test helpers can use it too.
inline Setlist largeSet(int songs = 200) {
    Setlist set;
    set.name = "Festival season, all songs";
    set.controlMode = ControlMode::mackieControl;
    set.mackiePort = "Strata";
    set.mackieTrackOffset = 16;
    for (int l = 0; l < 16; ++l) {
        Layer layer = Layer::fresh();
        layer.name = "Layer " + std::to_string(l + 1);
        layer.portName = l % 2 ? "IAC Bus 1" : "";
        layer.channel = l % 16 + 1;
        layer.muteCC = 20 + l;
        for (int r = 0; r < 4; ++r) {
            LayerRule rule = LayerRule::fresh();
            rule.effect = r % 2 ? LayerRule::Effect::muteOut : LayerRule::Effect::swellIn;
            rule.anchor =
                r % 2 ? FireAnchor::barsAfterStart(r) : FireAnchor::barsBeforeSectionEnd(2);
            rule.allSections = r == 0;
            rule.sectionNames = {"Chorus", "Bridge"};
            layer.rules.push_back(rule);
        }
        set.layers.push_back(layer);
    }
    const char* names[] = {"Intro",  "Verse 1", "Pre",       "Chorus", "Verse 2", "Pre",
                           "Chorus", "Bridge",  "Breakdown", "Chorus", "Tag",     "Outro"};
    for (int s = 0; s < songs; ++s) {
        Song song = Song::fresh();
        song.name = "Song number " + std::to_string(s + 1);
        song.tempo = 72.0 + s % 80;
        if (s % 3 == 0)
            song.key = "F#m";
        for (int c = 0; c < 12; ++c) {
            Section section = Section::fresh();
            section.name = names[c];
            if (c == 0)
                section.jumpTrigger =
                    AdvanceTrigger{"FCB1010", AdvanceTrigger::Kind::note, s % 128};
            for (int t = 0; t < 4; ++t) {
                SectionStep step = SectionStep::fresh();
                for (int l = 0; l < 16; ++l)
                    if ((l + t + c) % 3 == 0)
                        step.mutedLayerIDs.insert(set.layers[l].id);
                if (t == 3)
                    step.advanceBars = 4;
                step.returnToMain = t == 2;
                section.steps.push_back(step);
            }
            for (int m = 0; m < 4; ++m) {
                Moment moment = Moment::fresh();
                moment.name = "Moment " + std::to_string(m + 1);
                moment.anchor = FireAnchor::barsAfterStart(m * 2);
                moment.unmuteLayerIDs = {set.layers[m].id, set.layers[m + 4].id};
                moment.muteLayerIDs = {set.layers[m + 8].id};
                moment.programChanges.push_back(PatchChange{Uuid::random(), "Strata XT", 2, m});
                moment.ccSends.push_back(CCSend{Uuid::random(), "Strata", 1, 11, 100});
                if (m == 0)
                    moment.trigger = AdvanceTrigger{"Nano", AdvanceTrigger::Kind::cc, 64};
                section.moments.push_back(moment);
            }
            song.sections.push_back(section);
        }
        set.songs.push_back(song);
    }
    return set;
}

// One song with one section of `steps` + 1 one-bar steps, timed by `source`: what the
// auto-advance error benches step through.
inline Setlist oneBarStepsSet(int steps, TimeSource source) {
    Setlist set;
    set.name = "Bench";
    Song song = Song::fresh();
    song.name = "One";
    Section section = Section::named("Verse");
    section.steps.resize(static_cast<std::size_t>(steps) + 1, section.steps.at(0));
    for (auto& step : section.steps)
        step.advanceBars = 1;
    song.sections.push_back(std::move(section));
    set.songs.push_back(std::move(song));
    set.timeSource = source;
    return set;
}

// oneBarStepsSet in CC mute mode with one layer, "Click", muted by CC `muteCC` on port "Strata"
// in every other step (from the first): each step toggles it.
inline Setlist clickTogglingSet(int steps, TimeSource source, std::uint8_t muteCC) {
    Setlist set = oneBarStepsSet(steps, source);
    set.controlMode = ControlMode::ccMute;
    Layer layer = Layer::fresh();
    layer.name = "Click";
    layer.portName = "Strata";
    layer.muteCC = muteCC;
    set.layers = {layer};
    auto& all = set.songs[0].sections[0].steps;
    for (std::size_t k = 0; k < all.size(); k += 2)
        all[k].mutedLayerIDs = {layer.id};
    return set;
}

} // namespace strata::testing
