#include "model/setlist_codec.h"

#include "model/pretty_writer.h"

#include <cmath>

// Writing the stored document: keys in sorted order, optional fields left out when absent.
namespace strata {
namespace {

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
    if (setlist.clockDevice) {
        w.key("clockDevice");
        w.string(*setlist.clockDevice);
    }
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
    if (setlist.timeSource) {
        w.key("timeSource");
        w.string(rawValue(*setlist.timeSource));
    }
    w.endObject();
}

} // namespace

std::optional<std::string> encodeSetlist(const Setlist& setlist) {
    PrettyWriter w;
    writeSetlist(w, setlist);
    return w.take();
}

std::optional<std::string> encodeAdvanceTrigger(const AdvanceTrigger& trigger) {
    PrettyWriter w;
    writeTrigger(w, trigger);
    return w.take();
}

std::string encodeFireAnchor(const FireAnchor& anchor) {
    PrettyWriter w;
    writeAnchor(w, anchor);
    return w.take();
}

} // namespace strata
