#pragma once

// Setlists shared by the model tests.

#include "model/setlist.h"

#include <string_view>

namespace strata::testing {

inline Uuid id(int n) {
    Uuid::Bytes b{};
    b[15] = static_cast<std::uint8_t>(n);
    return Uuid(b);
}

template <typename T>
T withId(int n) {
    T record;
    record.id = id(n);
    return record;
}

// The small document a freshly started application writes, as the file format shows it.
constexpr std::string_view kSample = R"({
  "controlMode" : "mackieControl",
  "layers" : [
    {
      "channel" : 1,
      "id" : "00000000-0000-0000-0000-000000000001",
      "muteCC" : 20,
      "name" : "Piano",
      "portName" : "",
      "rules" : [ ]
    }
  ],
  "mackiePort" : "Strata",
  "name" : "Untitled Set",
  "songs" : [
    {
      "id" : "00000000-0000-0000-0000-000000000002",
      "name" : "New Song",
      "sections" : [
        {
          "id" : "00000000-0000-0000-0000-000000000003",
          "moments" : [ ],
          "name" : "Intro",
          "steps" : [
            {
              "id" : "00000000-0000-0000-0000-000000000004",
              "mutedLayerIDs" : [ ],
              "returnToMain" : false
            }
          ]
        }
      ]
    }
  ]
})";

// Every field set, every optional present somewhere and absent elsewhere, awkward strings.
inline Setlist richSetlist() {
    Setlist s;
    s.name = "Friday \"Late\" Show / \\ \t caf\u00E9 \U0001F3B9";
    s.controlMode = ControlMode::ccMute;
    s.mackiePort = "IAC Bus 2";
    s.mackieTrackOffset = -9;
    s.dawHost = DawHost::ardour;
    s.timeSource = TimeSource::midiClock;
    s.clockDevice = "Ardour Clock Out";
    Layer piano{id(1), "Piano", "Port A", 16, 20, {}};
    piano.rules.push_back(LayerRule{id(2),
                                    false,
                                    LayerRule::Effect::muteOut,
                                    FireAnchor::barsAfterStart(3),
                                    false,
                                    {"Chorus", "Verse 1"}});
    piano.rules.push_back(withId<LayerRule>(3));
    Layer pad{id(4), "Pad", "", 2, std::nullopt, {}};
    s.layers = {piano, pad};

    Song first{id(10), "Opener", {}, 121.5, "F#m"};
    Section intro{id(11), "Intro", {}, AdvanceTrigger{"FCB1010", AdvanceTrigger::Kind::cc, 7}, {}};
    intro.steps.push_back(SectionStep{id(12), {id(1), id(4)}, 4, true});
    intro.steps.push_back(SectionStep{id(13), {}, std::nullopt, false});
    Moment drop{id(14),
                "Drop",
                FireAnchor::barsBeforeSectionEnd(2),
                AdvanceTrigger{"", AdvanceTrigger::Kind::note, 64},
                {id(4)},
                {id(1)},
                {PatchChange{id(15), "Strata XT", 3, 127}},
                {CCSend{id(16), "Strata", 1, 11, 0}, CCSend{id(17), "Other", 16, 127, 64}}};
    Moment enter{id(18), "", FireAnchor::onSectionEnter(), std::nullopt, {}, {}, {}, {}};
    intro.moments = {drop, enter, withId<Moment>(19)};
    first.sections = {intro, Section{id(20), "Verse", {withId<SectionStep>(21)}, {}, {}}};
    Song second{id(30), "", {}, std::nullopt, std::nullopt};
    s.songs = {first, second};
    return s;
}

} // namespace strata::testing
