#include "model/setlist_codec.h"

#include "json/json_reading.h"
#include <set>
#include <vector>

// Reading the stored document. Strict records (the set, its songs, triggers, anchors, patch and
// CC sends) fail as a whole when a value does not read, and the failure travels up to the first
// tolerant record, which takes its fallback instead.
namespace strata {
namespace {

using json::Fields;
using json::Json;
using json::readArray;
using json::readBool;
using json::readNumber;
using json::readString;

// A stored document holds only what this program wrote: 2.0 is not an integer.
Result<std::int64_t> readInteger(const Json& value) {
    return json::readInteger(value, json::IntegralFloats::refused);
}

Result<Uuid> readUuid(const Json& value) {
    if (!value.is_string())
        return Result<Uuid>::failure("expected a UUID string");
    if (auto id = Uuid::parse(value.get_ref<const std::string&>()))
        return *id;
    return Result<Uuid>::failure("not a UUID");
}

template <typename T, typename Read>
Result<std::set<T>> readSet(const Json& value, Read read) {
    auto items = readArray(value, read);
    if (!items)
        return Result<std::set<T>>::failure(items);
    return std::set<T>(std::make_move_iterator(items->begin()),
                       std::make_move_iterator(items->end()));
}

Result<UuidSet> readUuidSet(const Json& value) {
    return readSet<Uuid>(value, readUuid);
}

Result<std::set<std::string>> readStringSet(const Json& value) {
    return readSet<std::string>(value, readString);
}

// A reader of an enumeration stored as its raw string.
template <typename FromRaw>
auto enumReader(FromRaw fromRaw, const char* unknown) {
    using E = typename std::invoke_result_t<FromRaw, std::string_view>::value_type;
    return [fromRaw, unknown](const Json& value) -> Result<E> {
        auto raw = readString(value);
        if (!raw)
            return Result<E>::failure(raw);
        if (auto known = fromRaw(*raw))
            return *known;
        return Result<E>::failure(unknown);
    };
}

Result<FireAnchor> readAnchor(const Json& value) {
    using R = Result<FireAnchor>;
    if (!value.is_object())
        return R::failure("expected an object");
    // Exactly one key must name a case; keys that name no case are not counted.
    static constexpr FireAnchor::Kind kinds[] = {
        FireAnchor::Kind::manual, FireAnchor::Kind::onSectionEnter,
        FireAnchor::Kind::barsAfterStart, FireAnchor::Kind::barsBeforeSectionEnd};
    const Json* payload = nullptr;
    FireAnchor anchor;
    int found = 0;
    for (const auto kind : kinds) {
        const auto it = value.find(caseName(kind));
        if (it == value.end())
            continue;
        ++found;
        payload = &*it;
        anchor.kind = kind;
    }
    if (found != 1)
        return R::failure("Invalid number of keys found, expected one.");
    if (!payload->is_object())
        return R::failure("anchor payload is not an object");
    if (anchor.hasBars()) {
        Fields f(*payload);
        anchor.bars = f.required("_0", readInteger);
        return f.finish(anchor);
    }
    return anchor;
}

Result<AdvanceTrigger> readTrigger(const Json& value) {
    Fields f(value);
    AdvanceTrigger trigger;
    trigger.data1 = f.required("data1", readInteger);
    trigger.deviceName = f.required("deviceName", readString);
    trigger.kind = f.required("kind", enumReader(triggerKindFromRaw, "unknown trigger kind"));
    return f.finish(std::move(trigger));
}

Result<PatchChange> readPatchChange(const Json& value) {
    Fields f(value);
    PatchChange change;
    change.id = f.required("id", readUuid);
    change.portName = f.required("portName", readString);
    change.channel = f.required("channel", readInteger);
    change.program = f.required("program", readInteger);
    return f.finish(std::move(change));
}

Result<CCSend> readCCSend(const Json& value) {
    Fields f(value);
    CCSend send;
    send.id = f.required("id", readUuid);
    send.portName = f.required("portName", readString);
    send.channel = f.required("channel", readInteger);
    send.cc = f.required("cc", readInteger);
    send.value = f.required("value", readInteger);
    return f.finish(std::move(send));
}

// Ids that are missing or invalid in a tolerant record are replaced by new ones.
Uuid tolerantId(const Fields& f) {
    if (auto id = f.tolerant("id", readUuid))
        return *id;
    return Uuid::random();
}

// Arrays of records that a tolerant record reads: one element that fails drops the whole array.
template <typename Read>
auto arrayOf(Read read) {
    return [read](const Json& value) { return readArray(value, read); };
}

Result<SectionStep> readStep(const Json& value) {
    const Fields f(value);
    if (!f.ok())
        return Result<SectionStep>::failure(f.reason());
    SectionStep step;
    step.id = tolerantId(f);
    step.mutedLayerIDs = f.tolerant("mutedLayerIDs", readUuidSet).value_or(UuidSet{});
    step.advanceBars = f.tolerant("advanceBars", readInteger);
    step.returnToMain = f.tolerant("returnToMain", readBool).value_or(false);
    return step;
}

Result<Moment> readMoment(const Json& value) {
    const Fields f(value);
    if (!f.ok())
        return Result<Moment>::failure(f.reason());
    Moment moment;
    moment.id = tolerantId(f);
    moment.name = f.tolerant("name", readString).value_or("Moment");
    moment.anchor = f.tolerant("anchor", readAnchor).value_or(FireAnchor::manual());
    moment.trigger = f.tolerant("trigger", readTrigger);
    moment.unmuteLayerIDs = f.tolerant("unmuteLayerIDs", readUuidSet).value_or(UuidSet{});
    moment.muteLayerIDs = f.tolerant("muteLayerIDs", readUuidSet).value_or(UuidSet{});
    if (auto changes = f.tolerant("programChanges", arrayOf(readPatchChange)))
        moment.programChanges = std::move(*changes);
    if (auto sends = f.tolerant("ccSends", arrayOf(readCCSend)))
        moment.ccSends = std::move(*sends);
    return moment;
}

Result<Section> readSection(const Json& value) {
    const Fields f(value);
    if (!f.ok())
        return Result<Section>::failure(f.reason());
    Section section;
    section.id = tolerantId(f);
    section.name = f.tolerant("name", readString).value_or("Section");
    if (auto steps = f.tolerant("steps", arrayOf(readStep)))
        section.steps = std::move(*steps);
    if (section.steps.empty()) {
        // Older files kept one muted set in the section itself and had no steps.
        SectionStep step = SectionStep::fresh();
        step.mutedLayerIDs = f.tolerant("mutedLayerIDs", readUuidSet).value_or(UuidSet{});
        section.steps.push_back(std::move(step));
    }
    section.jumpTrigger = f.tolerant("jumpTrigger", readTrigger);
    if (auto moments = f.tolerant("moments", arrayOf(readMoment)))
        section.moments = std::move(*moments);
    return section;
}

Result<Song> readSong(const Json& value) {
    Fields f(value);
    Song song;
    song.id = f.required("id", readUuid);
    song.name = f.required("name", readString);
    song.sections = f.required("sections", arrayOf(readSection));
    song.tempo = f.optional("tempo", readNumber);
    song.key = f.optional("key", readString);
    return f.finish(std::move(song));
}

Result<LayerRule> readRule(const Json& value) {
    const Fields f(value);
    if (!f.ok())
        return Result<LayerRule>::failure(f.reason());
    LayerRule rule;
    rule.id = tolerantId(f);
    rule.enabled = f.tolerant("enabled", readBool).value_or(true);
    rule.effect = f.tolerant("effect", enumReader(effectFromRaw, "unknown effect"))
                      .value_or(LayerRule::Effect::swellIn);
    rule.anchor = f.tolerant("anchor", readAnchor).value_or(FireAnchor::barsBeforeSectionEnd(2));
    rule.allSections = f.tolerant("allSections", readBool).value_or(true);
    rule.sectionNames = f.tolerant("sectionNames", readStringSet).value_or(std::set<std::string>{});
    return rule;
}

Result<Layer> readLayer(const Json& value) {
    const Fields f(value);
    if (!f.ok())
        return Result<Layer>::failure(f.reason());
    Layer layer;
    layer.id = tolerantId(f);
    layer.name = f.tolerant("name", readString).value_or("Layer");
    layer.portName = f.tolerant("portName", readString).value_or("");
    layer.channel = f.tolerant("channel", readInteger).value_or(1);
    layer.muteCC = f.tolerant("muteCC", readInteger);
    if (auto rules = f.tolerant("rules", arrayOf(readRule)))
        layer.rules = std::move(*rules);
    return layer;
}

Result<Setlist> readSetlist(const Json& value) {
    Fields f(value);
    Setlist setlist;
    setlist.name = f.required("name", readString);
    setlist.songs = f.required("songs", arrayOf(readSong));
    setlist.layers = f.required("layers", arrayOf(readLayer));
    setlist.controlMode =
        f.optional("controlMode", enumReader(controlModeFromRaw, "unknown control mode"));
    setlist.mackiePort = f.optional("mackiePort", readString);
    setlist.mackieTrackOffset = f.optional("mackieTrackOffset", readInteger);
    // Read tolerantly, unlike the control mode: a host this version does not know (written by a
    // later one) or a damaged value means the default host, not a rejected file.
    setlist.dawHost = f.tolerant("dawHost", enumReader(dawHostFromRaw, "unknown DAW host"));
    // Tolerant as the host: a source a later version added falls back to Cadenzo.
    setlist.timeSource =
        f.tolerant("timeSource", enumReader(timeSourceFromRaw, "unknown time source"));
    setlist.clockDevice = f.tolerant("clockDevice", readString);
    return f.finish(std::move(setlist));
}

// Runs one reader over a whole document.
template <typename Read>
auto decodeDocument(std::string_view text, Read read) -> std::invoke_result_t<Read, const Json&> {
    using R = std::invoke_result_t<Read, const Json&>;
    try {
        const auto document = json::parse(text, {.maxDepth = kMaxJsonDepth});
        if (!document)
            return R::failure(document);
        return read(*document);
    } catch (const std::exception& e) {
        // Nothing here throws by design; this keeps anything the library might still raise
        // (allocation failure included) from escaping to the caller.
        return R::failure(e.what());
    }
}

} // namespace

Result<Setlist> decodeSetlist(std::string_view text) {
    return decodeDocument(text, readSetlist);
}

Result<AdvanceTrigger> decodeAdvanceTrigger(std::string_view text) {
    return decodeDocument(text, readTrigger);
}

Result<FireAnchor> decodeFireAnchor(std::string_view text) {
    return decodeDocument(text, readAnchor);
}

} // namespace strata
