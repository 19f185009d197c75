#include "model/setlist_codec.h"

#include "model/utf8.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

// Records are read with designated initializers that name only some fields (`{.id = ...}`): the
// id's default, a fresh random UUID, would cost a kernel call per record only to be overwritten.
// The fields left out keep their declared defaults, which is what this warning is about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace strata {
namespace {

using nlohmann::json;

// =================================================================================================
// Writing
// =================================================================================================

// Appends `text` as a JSON string literal. Invalid UTF-8 sequences become U+FFFD so that the output
// is always a valid document; "/" is not escaped.
void appendQuoted(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    out.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0x0F]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
            }
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(p, n, i);
        if (length > 0) {
            out.append(text.data() + i, length);
            i += length;
        } else {
            out += replacement;
            ++i;
        }
    }
    out.push_back('"');
}

// The writer's layout: two-space indentation, "key" : value, keys in the order the encoders give
// them (which is the sorted order), empty containers as "[ ]" and "{ }", no trailing newline.
class PrettyWriter {
public:
    PrettyWriter() { open_.reserve(16); }

    void beginObject() { beginContainer('{'); }
    void endObject() { endContainer('}'); }
    void beginArray() { beginContainer('['); }
    void endArray() { endContainer(']'); }

    void key(std::string_view name) {
        startItem();
        appendQuoted(out_, name);
        out_ += " : ";
        afterKey_ = true;
    }

    void string(std::string_view value) {
        beforeValue();
        appendQuoted(out_, value);
    }
    void integer(std::int64_t value) {
        beforeValue();
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    // Shortest text that reads back as the same double. Callers pass finite values only.
    void number(double value) {
        beforeValue();
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    void boolean(bool value) {
        beforeValue();
        out_ += value ? "true" : "false";
    }
    void uuid(const Uuid& id) {
        beforeValue();
        out_.push_back('"');
        out_ += id.string();
        out_.push_back('"');
    }

    std::string take() { return std::move(out_); }
    void reserve(std::size_t bytes) { out_.reserve(bytes); }

private:
    void newline() {
        out_.push_back('\n');
        out_.append(2 * open_.size(), ' ');
    }
    // Separator and line break before an object key or an array element.
    void startItem() {
        if (open_.empty())
            return;
        if (open_.back())
            out_.push_back(',');
        open_.back() = true;
        newline();
    }
    void beforeValue() {
        if (afterKey_)
            afterKey_ = false;
        else
            startItem();
    }
    void beginContainer(char bracket) {
        beforeValue();
        out_.push_back(bracket);
        open_.push_back(false);
    }
    void endContainer(char bracket) {
        const bool hadItems = open_.back();
        open_.pop_back();
        if (hadItems) {
            newline();
        } else {
            out_.push_back(' ');
        }
        out_.push_back(bracket);
    }

    std::string out_;
    std::vector<bool> open_; // one entry per open container: has it got an item yet?
    bool afterKey_ = false;
};

void writeUuidSet(PrettyWriter& w, const UuidSet& ids) {
    w.beginArray();
    for (const auto& id : ids)
        w.uuid(id);
    w.endArray();
}

void writeAnchor(PrettyWriter& w, const FireAnchor& anchor) {
    w.beginObject();
    w.key(caseName(anchor.kind));
    w.beginObject();
    if (anchor.hasBars()) {
        w.key("_0");
        w.integer(anchor.bars);
    }
    w.endObject();
    w.endObject();
}

void writeTrigger(PrettyWriter& w, const AdvanceTrigger& trigger) {
    w.beginObject();
    w.key("data1");
    w.integer(trigger.data1);
    w.key("deviceName");
    w.string(trigger.deviceName);
    w.key("kind");
    w.string(rawValue(trigger.kind));
    w.endObject();
}

void writePatchChange(PrettyWriter& w, const PatchChange& change) {
    w.beginObject();
    w.key("channel");
    w.integer(change.channel);
    w.key("id");
    w.uuid(change.id);
    w.key("portName");
    w.string(change.portName);
    w.key("program");
    w.integer(change.program);
    w.endObject();
}

void writeCCSend(PrettyWriter& w, const CCSend& send) {
    w.beginObject();
    w.key("cc");
    w.integer(send.cc);
    w.key("channel");
    w.integer(send.channel);
    w.key("id");
    w.uuid(send.id);
    w.key("portName");
    w.string(send.portName);
    w.key("value");
    w.integer(send.value);
    w.endObject();
}

void writeStep(PrettyWriter& w, const SectionStep& step) {
    w.beginObject();
    if (step.advanceBars) {
        w.key("advanceBars");
        w.integer(*step.advanceBars);
    }
    w.key("id");
    w.uuid(step.id);
    w.key("mutedLayerIDs");
    writeUuidSet(w, step.mutedLayerIDs);
    w.key("returnToMain");
    w.boolean(step.returnToMain);
    w.endObject();
}

void writeMoment(PrettyWriter& w, const Moment& moment) {
    w.beginObject();
    w.key("anchor");
    writeAnchor(w, moment.anchor);
    w.key("ccSends");
    w.beginArray();
    for (const auto& send : moment.ccSends)
        writeCCSend(w, send);
    w.endArray();
    w.key("id");
    w.uuid(moment.id);
    w.key("muteLayerIDs");
    writeUuidSet(w, moment.muteLayerIDs);
    w.key("name");
    w.string(moment.name);
    w.key("programChanges");
    w.beginArray();
    for (const auto& change : moment.programChanges)
        writePatchChange(w, change);
    w.endArray();
    if (moment.trigger) {
        w.key("trigger");
        writeTrigger(w, *moment.trigger);
    }
    w.key("unmuteLayerIDs");
    writeUuidSet(w, moment.unmuteLayerIDs);
    w.endObject();
}

void writeSection(PrettyWriter& w, const Section& section) {
    w.beginObject();
    w.key("id");
    w.uuid(section.id);
    if (section.jumpTrigger) {
        w.key("jumpTrigger");
        writeTrigger(w, *section.jumpTrigger);
    }
    w.key("moments");
    w.beginArray();
    for (const auto& moment : section.moments)
        writeMoment(w, moment);
    w.endArray();
    w.key("name");
    w.string(section.name);
    w.key("steps");
    w.beginArray();
    for (const auto& step : section.steps)
        writeStep(w, step);
    w.endArray();
    w.endObject();
}

void writeSong(PrettyWriter& w, const Song& song) {
    w.beginObject();
    w.key("id");
    w.uuid(song.id);
    if (song.key) {
        w.key("key");
        w.string(*song.key);
    }
    w.key("name");
    w.string(song.name);
    w.key("sections");
    w.beginArray();
    for (const auto& section : song.sections)
        writeSection(w, section);
    w.endArray();
    // JSON has no form for infinities or NaN: such a tempo is left out rather than failing the
    // whole save.
    if (song.tempo && std::isfinite(*song.tempo)) {
        w.key("tempo");
        w.number(*song.tempo);
    }
    w.endObject();
}

void writeRule(PrettyWriter& w, const LayerRule& rule) {
    w.beginObject();
    w.key("allSections");
    w.boolean(rule.allSections);
    w.key("anchor");
    writeAnchor(w, rule.anchor);
    w.key("effect");
    w.string(rawValue(rule.effect));
    w.key("enabled");
    w.boolean(rule.enabled);
    w.key("id");
    w.uuid(rule.id);
    w.key("sectionNames");
    w.beginArray();
    for (const auto& name : rule.sectionNames)
        w.string(name);
    w.endArray();
    w.endObject();
}

void writeLayer(PrettyWriter& w, const Layer& layer) {
    w.beginObject();
    w.key("channel");
    w.integer(layer.channel);
    w.key("id");
    w.uuid(layer.id);
    if (layer.muteCC) {
        w.key("muteCC");
        w.integer(*layer.muteCC);
    }
    w.key("name");
    w.string(layer.name);
    w.key("portName");
    w.string(layer.portName);
    w.key("rules");
    w.beginArray();
    for (const auto& rule : layer.rules)
        writeRule(w, rule);
    w.endArray();
    w.endObject();
}

void writeSetlist(PrettyWriter& w, const Setlist& setlist) {
    w.beginObject();
    if (setlist.controlMode) {
        w.key("controlMode");
        w.string(rawValue(*setlist.controlMode));
    }
    if (setlist.dawHost) {
        w.key("dawHost");
        w.string(rawValue(*setlist.dawHost));
    }
    w.key("layers");
    w.beginArray();
    for (const auto& layer : setlist.layers)
        writeLayer(w, layer);
    w.endArray();
    if (setlist.mackiePort) {
        w.key("mackiePort");
        w.string(*setlist.mackiePort);
    }
    if (setlist.mackieTrackOffset) {
        w.key("mackieTrackOffset");
        w.integer(*setlist.mackieTrackOffset);
    }
    w.key("name");
    w.string(setlist.name);
    w.key("songs");
    w.beginArray();
    for (const auto& song : setlist.songs)
        writeSong(w, song);
    w.endArray();
    w.endObject();
}

// =================================================================================================
// Reading
// =================================================================================================

// A failed read. Strict records let it travel up; tolerant records catch it and take a fallback.
struct DecodeError {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw DecodeError{std::move(message)};
}

// Whether the text opens more than kMaxJsonDepth arrays/objects at once. The count follows the
// parser's own view of strings and escapes up to the first syntax error, after which the parser
// stops anyway, so the parser never goes deeper than this pass allows.
bool nestsTooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

json parseDocument(std::string_view text) {
    if (nestsTooDeep(text))
        fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded())
        fail("not a JSON document");
    return document;
}

const json& expectObject(const json& value) {
    if (!value.is_object())
        fail("expected an object");
    return value;
}

// The value of a required key; missing or null fails.
const json& required(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        fail(std::string("\"") + key + "\" is missing");
    return *it;
}

// The value of an optional key, or nullptr when it is missing or null.
const json* optionalValue(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

// Reads an optional key strictly: missing or null is absent, anything present must read.
template <typename Read>
auto strictOptional(const json& object, const char* key, Read read)
    -> std::optional<decltype(read(object))> {
    if (const json* value = optionalValue(object, key))
        return read(*value);
    return std::nullopt;
}

// Reads a key tolerantly: missing, null or invalid gives none, so the caller takes its fallback.
template <typename Read>
auto tolerant(const json& object, const char* key, Read read)
    -> std::optional<decltype(read(object))> {
    const json* value = optionalValue(object, key);
    if (!value)
        return std::nullopt;
    try {
        return read(*value);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

// Only JSON integers count: 2.5, 2.0, 1e2 and "2" are not integers, nor is anything outside the
// signed 64-bit range (the parser keeps such numbers as floating point or unsigned).
std::int64_t readInteger(const json& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get_ref<const json::number_unsigned_t&>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail("integer out of range");
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer())
        return value.get_ref<const json::number_integer_t&>();
    fail("expected an integer");
}

double readNumber(const json& value) {
    if (value.is_number_unsigned())
        return static_cast<double>(value.get_ref<const json::number_unsigned_t&>());
    if (value.is_number_integer())
        return static_cast<double>(value.get_ref<const json::number_integer_t&>());
    if (value.is_number_float()) {
        const double d = value.get_ref<const json::number_float_t&>();
        if (!std::isfinite(d))
            fail("number out of range");
        return d;
    }
    fail("expected a number");
}

std::string readString(const json& value) {
    if (!value.is_string())
        fail("expected a string");
    return value.get_ref<const std::string&>();
}

bool readBool(const json& value) {
    if (!value.is_boolean())
        fail("expected a boolean");
    return value.get_ref<const json::boolean_t&>();
}

Uuid readUuid(const json& value) {
    if (!value.is_string())
        fail("expected a UUID string");
    auto id = Uuid::parse(value.get_ref<const std::string&>());
    if (!id)
        fail("not a UUID");
    return *id;
}

// An array is read as a whole: one element that fails makes the whole array fail.
template <typename Read>
auto readArray(const json& value, Read read) -> std::vector<decltype(read(value))> {
    if (!value.is_array())
        fail("expected an array");
    std::vector<decltype(read(value))> items;
    items.reserve(value.size());
    for (const auto& element : value)
        items.push_back(read(element));
    return items;
}

UuidSet readUuidSet(const json& value) {
    if (!value.is_array())
        fail("expected an array");
    UuidSet ids;
    for (const auto& element : value)
        ids.insert(readUuid(element));
    return ids;
}

std::set<std::string> readStringSet(const json& value) {
    if (!value.is_array())
        fail("expected an array");
    std::set<std::string> strings;
    for (const auto& element : value)
        strings.insert(readString(element));
    return strings;
}

FireAnchor readAnchor(const json& value) {
    expectObject(value);
    // Exactly one key must name a case; keys that name no case are not counted.
    static constexpr FireAnchor::Kind kinds[] = {
        FireAnchor::Kind::manual, FireAnchor::Kind::onSectionEnter,
        FireAnchor::Kind::barsAfterStart, FireAnchor::Kind::barsBeforeSectionEnd};
    const json* payload = nullptr;
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
        fail("Invalid number of keys found, expected one.");
    if (!payload->is_object())
        fail("anchor payload is not an object");
    if (anchor.hasBars())
        anchor.bars = readInteger(required(*payload, "_0"));
    return anchor;
}

AdvanceTrigger readTrigger(const json& value) {
    expectObject(value);
    AdvanceTrigger trigger;
    trigger.data1 = readInteger(required(value, "data1"));
    trigger.deviceName = readString(required(value, "deviceName"));
    const auto kind = triggerKindFromRaw(readString(required(value, "kind")));
    if (!kind)
        fail("unknown trigger kind");
    trigger.kind = *kind;
    return trigger;
}

PatchChange readPatchChange(const json& value) {
    expectObject(value);
    return PatchChange{.id = readUuid(required(value, "id")),
                       .portName = readString(required(value, "portName")),
                       .channel = readInteger(required(value, "channel")),
                       .program = readInteger(required(value, "program"))};
}

CCSend readCCSend(const json& value) {
    expectObject(value);
    return CCSend{.id = readUuid(required(value, "id")),
                  .portName = readString(required(value, "portName")),
                  .channel = readInteger(required(value, "channel")),
                  .cc = readInteger(required(value, "cc")),
                  .value = readInteger(required(value, "value"))};
}

// Ids that are missing or invalid in a tolerant record are replaced by new ones.
Uuid tolerantId(const json& object) {
    if (auto id = tolerant(object, "id", readUuid))
        return *id;
    return Uuid::random();
}

SectionStep readStep(const json& value) {
    expectObject(value);
    return SectionStep{.id = tolerantId(value),
                       .mutedLayerIDs =
                           tolerant(value, "mutedLayerIDs", readUuidSet).value_or(UuidSet{}),
                       .advanceBars = tolerant(value, "advanceBars", readInteger),
                       .returnToMain = tolerant(value, "returnToMain", readBool).value_or(false)};
}

Moment readMoment(const json& value) {
    expectObject(value);
    Moment moment{.id = tolerantId(value)};
    moment.name = tolerant(value, "name", readString).value_or("Moment");
    moment.anchor = tolerant(value, "anchor", readAnchor).value_or(FireAnchor::manual());
    moment.trigger = tolerant(value, "trigger", readTrigger);
    if (auto ids = tolerant(value, "unmuteLayerIDs", readUuidSet))
        moment.unmuteLayerIDs = std::move(*ids);
    if (auto ids = tolerant(value, "muteLayerIDs", readUuidSet))
        moment.muteLayerIDs = std::move(*ids);
    if (auto changes = tolerant(value, "programChanges",
                                [](const json& v) { return readArray(v, readPatchChange); }))
        moment.programChanges = std::move(*changes);
    if (auto sends =
            tolerant(value, "ccSends", [](const json& v) { return readArray(v, readCCSend); }))
        moment.ccSends = std::move(*sends);
    return moment;
}

Section readSection(const json& value) {
    expectObject(value);
    Section section{.id = tolerantId(value)};
    section.name = tolerant(value, "name", readString).value_or("Section");
    if (auto steps = tolerant(value, "steps", [](const json& v) { return readArray(v, readStep); }))
        section.steps = std::move(*steps);
    if (section.steps.empty()) {
        // Older files kept one muted set in the section itself and had no steps.
        SectionStep step{.id = Uuid::random()};
        if (auto ids = tolerant(value, "mutedLayerIDs", readUuidSet))
            step.mutedLayerIDs = std::move(*ids);
        section.steps.push_back(std::move(step));
    }
    section.jumpTrigger = tolerant(value, "jumpTrigger", readTrigger);
    if (auto moments =
            tolerant(value, "moments", [](const json& v) { return readArray(v, readMoment); }))
        section.moments = std::move(*moments);
    return section;
}

Song readSong(const json& value) {
    expectObject(value);
    Song song{.id = readUuid(required(value, "id"))};
    song.name = readString(required(value, "name"));
    song.sections = readArray(required(value, "sections"), readSection);
    song.tempo = strictOptional(value, "tempo", readNumber);
    song.key = strictOptional(value, "key", readString);
    return song;
}

LayerRule readRule(const json& value) {
    expectObject(value);
    LayerRule rule{.id = tolerantId(value)};
    rule.enabled = tolerant(value, "enabled", readBool).value_or(true);
    rule.effect = tolerant(value, "effect", [](const json& v) {
                      if (auto effect = effectFromRaw(readString(v)))
                          return *effect;
                      fail("unknown effect");
                  }).value_or(LayerRule::Effect::swellIn);
    rule.anchor =
        tolerant(value, "anchor", readAnchor).value_or(FireAnchor::barsBeforeSectionEnd(2));
    rule.allSections = tolerant(value, "allSections", readBool).value_or(true);
    if (auto names = tolerant(value, "sectionNames", readStringSet))
        rule.sectionNames = std::move(*names);
    return rule;
}

Layer readLayer(const json& value) {
    expectObject(value);
    Layer layer{.id = tolerantId(value)};
    layer.name = tolerant(value, "name", readString).value_or("Layer");
    layer.portName = tolerant(value, "portName", readString).value_or("");
    layer.channel = tolerant(value, "channel", readInteger).value_or(1);
    layer.muteCC = tolerant(value, "muteCC", readInteger);
    if (auto rules = tolerant(value, "rules", [](const json& v) { return readArray(v, readRule); }))
        layer.rules = std::move(*rules);
    return layer;
}

Setlist readSetlist(const json& value) {
    expectObject(value);
    Setlist setlist;
    setlist.name = readString(required(value, "name"));
    setlist.songs = readArray(required(value, "songs"), readSong);
    setlist.layers = readArray(required(value, "layers"), readLayer);
    setlist.controlMode = strictOptional(value, "controlMode", [](const json& v) {
        if (auto mode = controlModeFromRaw(readString(v)))
            return *mode;
        fail("unknown control mode");
    });
    setlist.mackiePort = strictOptional(value, "mackiePort", readString);
    setlist.mackieTrackOffset = strictOptional(value, "mackieTrackOffset", readInteger);
    // Read tolerantly, unlike the control mode: a host this version does not know (written by a
    // later one) or a damaged value means the default host, not a rejected file.
    setlist.dawHost = tolerant(value, "dawHost", [](const json& v) {
        if (auto host = dawHostFromRaw(readString(v)))
            return *host;
        fail("unknown DAW host");
    });
    return setlist;
}

// Runs one reader over a whole document; parse and strict failures become none.
template <typename Read>
auto decodeDocument(std::string_view text, std::string* error, Read read)
    -> std::optional<decltype(read(json()))> {
    try {
        return read(parseDocument(text));
    } catch (const DecodeError& e) {
        if (error)
            *error = e.message;
    } catch (const std::exception& e) {
        // The parser is asked not to throw; this guards against anything else it might raise
        // (allocation failure included), so that no input can escape as an exception.
        if (error)
            *error = e.what();
    }
    return std::nullopt;
}

} // namespace

std::optional<Setlist> decodeSetlist(std::string_view text, std::string* error) {
    return decodeDocument(text, error, readSetlist);
}

std::optional<std::string> encodeSetlist(const Setlist& setlist) {
    PrettyWriter w;
    writeSetlist(w, setlist);
    return w.take();
}

std::optional<AdvanceTrigger> decodeAdvanceTrigger(std::string_view text, std::string* error) {
    return decodeDocument(text, error, readTrigger);
}

std::optional<std::string> encodeAdvanceTrigger(const AdvanceTrigger& trigger) {
    PrettyWriter w;
    writeTrigger(w, trigger);
    return w.take();
}

std::optional<FireAnchor> decodeFireAnchor(std::string_view text, std::string* error) {
    return decodeDocument(text, error, readAnchor);
}

std::string encodeFireAnchor(const FireAnchor& anchor) {
    PrettyWriter w;
    writeAnchor(w, anchor);
    return w.take();
}

} // namespace strata
