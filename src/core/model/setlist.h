#pragma once

#include "model/uuid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

using UuidSet = std::set<Uuid>;

// ---- Enumerations with string raw values -------------------------------------------------------

enum class ControlMode { ccMute, mackieControl };
// All cases, in declaration order.
inline constexpr std::array<ControlMode, 2> allControlModes{ControlMode::ccMute,
                                                            ControlMode::mackieControl};
std::string_view rawValue(ControlMode mode);
std::string_view label(ControlMode mode); // as the mode menu shows it
std::optional<ControlMode> controlModeFromRaw(std::string_view raw);

// The DAW host a set drives: how its Mackie Control banking and CC mutes behave. Absent from a
// document means `logic`, the hosts the setup guide has always covered.
enum class DawHost { logic, ardour };
inline constexpr std::array<DawHost, 2> allDawHosts{DawHost::logic, DawHost::ardour};
std::string_view rawValue(DawHost host); // "logic" / "ardour"
std::string_view label(DawHost host);    // "Logic Pro / MainStage" / "Ardour"
std::optional<DawHost> dawHostFromRaw(std::string_view raw);

// Where a set's musical time (playing, tempo, bars) comes from. Absent from a document means
// `cadenzo`, the cue link's live state.
enum class TimeSource { cadenzo, midiClock, link };
std::string_view rawValue(TimeSource source); // "cadenzo" / "midiClock" / "link"
std::string_view label(TimeSource source);    // "Cadenzo" / "MIDI clock" / "Ableton Link"
std::optional<TimeSource> timeSourceFromRaw(std::string_view raw);

// The feature level; not part of the document.
enum class StrataMode { essentials, pro };
std::string_view rawValue(StrataMode mode);
// "pro" selects pro; anything else (including nothing) selects essentials.
StrataMode strataModeFromStored(std::optional<std::string_view> stored);

// ---- Records -----------------------------------------------------------------------------------
//
// A default-constructed record has the nil id: making one costs no call for randomness, which
// matters where records are built in bulk (reading a file) and then get their id from elsewhere.
// A new record the user creates comes from the record's fresh() (or a factory built on it).

// When a Moment or layer rule fires. `bars` is meaningful only for the two bar-timed kinds and is
// zero for the others, so member-wise equality is case-and-payload equality.
struct FireAnchor {
    enum class Kind { manual, onSectionEnter, barsAfterStart, barsBeforeSectionEnd };
    Kind kind = Kind::manual;
    std::int64_t bars = 0;

    static FireAnchor manual() { return {Kind::manual, 0}; }
    static FireAnchor onSectionEnter() { return {Kind::onSectionEnter, 0}; }
    static FireAnchor barsAfterStart(std::int64_t n) { return {Kind::barsAfterStart, n}; }
    static FireAnchor barsBeforeSectionEnd(std::int64_t n) {
        return {Kind::barsBeforeSectionEnd, n};
    }
    bool hasBars() const {
        return kind == Kind::barsAfterStart || kind == Kind::barsBeforeSectionEnd;
    }

    friend bool operator==(const FireAnchor&, const FireAnchor&) = default;
};
std::string_view caseName(FireAnchor::Kind kind); // "manual", "onSectionEnter", ...

// A learned MIDI trigger: the NEXT trigger, a section's jump trigger or a Moment's trigger.
struct AdvanceTrigger {
    enum class Kind { note, cc };
    std::string deviceName;
    Kind kind = Kind::note;
    std::int64_t data1 = 0;

    // "CC 7 · FCB1010" / "Note 64 · FCB1010".
    std::string label() const;

    friend bool operator==(const AdvanceTrigger&, const AdvanceTrigger&) = default;
};
std::string_view rawValue(AdvanceTrigger::Kind kind);
std::optional<AdvanceTrigger::Kind> triggerKindFromRaw(std::string_view raw);

struct PatchChange {
    Uuid id;
    std::string portName;
    std::int64_t channel = 1;
    std::int64_t program = 0;

    // A new record with a fresh id and every other field at its default.
    static PatchChange fresh();

    friend bool operator==(const PatchChange&, const PatchChange&) = default;
};

struct CCSend {
    Uuid id;
    std::string portName;
    std::int64_t channel = 1;
    std::int64_t cc = 0;
    std::int64_t value = 0;

    // A new record with a fresh id and every other field at its default.
    static CCSend fresh();

    friend bool operator==(const CCSend&, const CCSend&) = default;
};

struct SectionStep {
    Uuid id;
    UuidSet mutedLayerIDs;
    std::optional<std::int64_t> advanceBars;
    bool returnToMain = false;

    // A new record with a fresh id and every other field at its default.
    static SectionStep fresh();

    friend bool operator==(const SectionStep&, const SectionStep&) = default;
};

struct Moment {
    Uuid id;
    std::string name;
    FireAnchor anchor;
    std::optional<AdvanceTrigger> trigger;
    UuidSet unmuteLayerIDs; // note: unmute comes before mute
    UuidSet muteLayerIDs;
    std::vector<PatchChange> programChanges;
    std::vector<CCSend> ccSends;

    // A new record with a fresh id and every other field at its default.
    static Moment fresh();

    friend bool operator==(const Moment&, const Moment&) = default;
};

struct Section {
    Uuid id;
    std::string name;
    std::vector<SectionStep> steps;
    std::optional<AdvanceTrigger> jumpTrigger;
    std::vector<Moment> moments;

    // A new section: new id, exactly one default step, no jump trigger, no Moments.
    static Section named(std::string name);

    // A new record with a fresh id and every other field at its default.
    static Section fresh();

    friend bool operator==(const Section&, const Section&) = default;
};

struct Song {
    Uuid id;
    std::string name;
    std::vector<Section> sections;
    std::optional<double> tempo;
    std::optional<std::string> key;

    // A new record with a fresh id and every other field at its default.
    static Song fresh();

    friend bool operator==(const Song&, const Song&) = default;
};

struct LayerRule {
    enum class Effect { swellIn, muteOut };
    Uuid id;
    bool enabled = true;
    Effect effect = Effect::swellIn;
    FireAnchor anchor = FireAnchor::barsBeforeSectionEnd(2);
    bool allSections = true;
    std::set<std::string> sectionNames;

    // A new record with a fresh id and every other field at its default.
    static LayerRule fresh();

    friend bool operator==(const LayerRule&, const LayerRule&) = default;
};
std::string_view rawValue(LayerRule::Effect effect);
std::string_view label(LayerRule::Effect effect); // "Swell IN" / "Mute OUT"
std::optional<LayerRule::Effect> effectFromRaw(std::string_view raw);

struct Layer {
    Uuid id;
    std::string name;
    std::string portName;
    std::int64_t channel = 1;
    std::optional<std::int64_t> muteCC;
    std::vector<LayerRule> rules;

    // Piano, Poly, Pad, Lead on channels 1-4 with CCs 20-23; the same ids for the whole run.
    static const std::vector<Layer>& defaults();

    // A new record with a fresh id and every other field at its default.
    static Layer fresh();

    friend bool operator==(const Layer&, const Layer&) = default;
};

// The root of the document.
struct Setlist {
    std::string name;
    std::vector<Song> songs;
    std::vector<Layer> layers;
    std::optional<ControlMode> controlMode;
    std::optional<std::string> mackiePort;
    std::optional<std::int64_t> mackieTrackOffset;
    // Which host the set drives; absent means Logic Pro / MainStage.
    std::optional<DawHost> dawHost;
    // Where musical time comes from; absent means Cadenzo.
    std::optional<TimeSource> timeSource;
    // The MIDI clock's source device, stored as learned triggers store theirs (its stable name).
    std::optional<std::string> clockDevice;

    // The default set, used when no stored set can be read. Fresh song/section/step ids each call.
    static Setlist empty();

    // Readers' view of the optional transport settings.
    ControlMode effectiveControlMode() const { return controlMode.value_or(ControlMode::ccMute); }
    // The offset rounded toward zero to a multiple of 8 (one Mackie bank); 0 when absent.
    std::int64_t effectiveTrackOffset() const;
    // The main surface's port: "Strata" when absent or empty.
    std::string effectiveMackiePort() const;
    DawHost effectiveDawHost() const { return dawHost.value_or(DawHost::logic); }
    TimeSource effectiveTimeSource() const { return timeSource.value_or(TimeSource::cadenzo); }

    friend bool operator==(const Setlist&, const Setlist&) = default;
};

// x rounded toward zero to a multiple of 8 (-9 gives -8, 13 gives 8).
constexpr std::int64_t trunc8(std::int64_t x) {
    return x / 8 * 8;
}

// The port name that always means this application's own main surface.
inline constexpr std::string_view kMainSurfacePort = "Strata";
inline constexpr std::string_view kExtenderPort = "Strata XT";

} // namespace strata
