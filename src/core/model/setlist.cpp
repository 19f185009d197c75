#include "model/setlist.h"

namespace strata {

std::string_view rawValue(ControlMode mode) {
    return mode == ControlMode::mackieControl ? "mackieControl" : "ccMute";
}

std::string_view label(ControlMode mode) {
    return mode == ControlMode::mackieControl ? "Mackie Control" : "CC Mute (MIDI Learn)";
}

std::optional<ControlMode> controlModeFromRaw(std::string_view raw) {
    if (raw == "ccMute")
        return ControlMode::ccMute;
    if (raw == "mackieControl")
        return ControlMode::mackieControl;
    return std::nullopt;
}

std::string_view rawValue(DawHost host) {
    return host == DawHost::ardour ? "ardour" : "logic";
}

std::string_view label(DawHost host) {
    return host == DawHost::ardour ? "Ardour" : "Logic Pro / MainStage";
}

std::optional<DawHost> dawHostFromRaw(std::string_view raw) {
    if (raw == "logic")
        return DawHost::logic;
    if (raw == "ardour")
        return DawHost::ardour;
    return std::nullopt;
}

std::string_view rawValue(TimeSource source) {
    switch (source) {
    case TimeSource::midiClock:
        return "midiClock";
    case TimeSource::link:
        return "link";
    case TimeSource::cadenzo:
        break;
    }
    return "cadenzo";
}

std::string_view label(TimeSource source) {
    switch (source) {
    case TimeSource::midiClock:
        return "MIDI clock";
    case TimeSource::link:
        return "Ableton Link";
    case TimeSource::cadenzo:
        break;
    }
    return "Cadenzo";
}

std::optional<TimeSource> timeSourceFromRaw(std::string_view raw) {
    if (raw == "cadenzo")
        return TimeSource::cadenzo;
    if (raw == "midiClock")
        return TimeSource::midiClock;
    if (raw == "link")
        return TimeSource::link;
    return std::nullopt;
}

std::string_view rawValue(StrataMode mode) {
    return mode == StrataMode::pro ? "pro" : "essentials";
}

StrataMode strataModeFromStored(std::optional<std::string_view> stored) {
    return stored && *stored == "pro" ? StrataMode::pro : StrataMode::essentials;
}

std::string_view caseName(FireAnchor::Kind kind) {
    switch (kind) {
    case FireAnchor::Kind::manual:
        return "manual";
    case FireAnchor::Kind::onSectionEnter:
        return "onSectionEnter";
    case FireAnchor::Kind::barsAfterStart:
        return "barsAfterStart";
    case FireAnchor::Kind::barsBeforeSectionEnd:
        return "barsBeforeSectionEnd";
    }
    return "manual";
}

std::string AdvanceTrigger::label() const {
    std::string s = kind == Kind::cc ? "CC " : "Note ";
    s += std::to_string(data1);
    s += " \u00B7 ";
    s += deviceName;
    return s;
}

std::string_view rawValue(AdvanceTrigger::Kind kind) {
    return kind == AdvanceTrigger::Kind::cc ? "cc" : "note";
}

std::optional<AdvanceTrigger::Kind> triggerKindFromRaw(std::string_view raw) {
    if (raw == "note")
        return AdvanceTrigger::Kind::note;
    if (raw == "cc")
        return AdvanceTrigger::Kind::cc;
    return std::nullopt;
}

std::string_view rawValue(LayerRule::Effect effect) {
    return effect == LayerRule::Effect::muteOut ? "muteOut" : "swellIn";
}

std::string_view label(LayerRule::Effect effect) {
    return effect == LayerRule::Effect::muteOut ? "Mute OUT" : "Swell IN";
}

std::optional<LayerRule::Effect> effectFromRaw(std::string_view raw) {
    if (raw == "swellIn")
        return LayerRule::Effect::swellIn;
    if (raw == "muteOut")
        return LayerRule::Effect::muteOut;
    return std::nullopt;
}

namespace {
// Ids are drawn only where a record is made new; a default record carries the nil id.
template <typename Record>
Record withFreshId() {
    Record record;
    record.id = Uuid::random();
    return record;
}
} // namespace

PatchChange PatchChange::fresh() {
    return withFreshId<PatchChange>();
}

CCSend CCSend::fresh() {
    return withFreshId<CCSend>();
}

SectionStep SectionStep::fresh() {
    return withFreshId<SectionStep>();
}

Moment Moment::fresh() {
    return withFreshId<Moment>();
}

Section Section::fresh() {
    return withFreshId<Section>();
}

Song Song::fresh() {
    return withFreshId<Song>();
}

LayerRule LayerRule::fresh() {
    return withFreshId<LayerRule>();
}

Layer Layer::fresh() {
    return withFreshId<Layer>();
}

Section Section::named(std::string name) {
    Section s = Section::fresh();
    s.name = std::move(name);
    s.steps.push_back(SectionStep::fresh());
    return s;
}

const std::vector<Layer>& Layer::defaults() {
    static const std::vector<Layer> layers = [] {
        std::vector<Layer> v;
        const char* names[] = {"Piano", "Poly", "Pad", "Lead"};
        for (int i = 0; i < 4; ++i) {
            Layer l = Layer::fresh();
            l.name = names[i];
            l.channel = i + 1;
            l.muteCC = 20 + i;
            v.push_back(std::move(l));
        }
        return v;
    }();
    return layers;
}

Setlist Setlist::empty() {
    Setlist s;
    s.name = "Untitled Set";
    Song song = Song::fresh();
    song.name = "New Song";
    for (const char* n :
         {"Intro", "Verse 1", "Chorus", "Verse 2", "Chorus", "Bridge", "Chorus", "Outro"})
        song.sections.push_back(Section::named(n));
    s.songs.push_back(std::move(song));
    s.layers = Layer::defaults();
    s.controlMode = ControlMode::mackieControl;
    s.mackiePort = std::string(kMainSurfacePort);
    return s;
}

std::int64_t Setlist::effectiveTrackOffset() const {
    return trunc8(mackieTrackOffset.value_or(0));
}

std::string Setlist::effectiveMackiePort() const {
    if (mackiePort && !mackiePort->empty())
        return *mackiePort;
    return std::string(kMainSurfacePort);
}

} // namespace strata
