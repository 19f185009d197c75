#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace strata {

// Where the performer stands: song, section and step, by index.
struct ReflexPosition {
    std::int64_t song = 0;
    std::int64_t section = 0;
    std::int64_t step = 0;
    friend bool operator==(const ReflexPosition&, const ReflexPosition&) = default;
};

// What the MIDI input thread and the cue link's reader need to answer a trigger that moves the
// position without asking the main thread: the current song's sections with the muted layers of
// each step, the position, the number of songs, and what the mute output is driven with. The main
// thread builds one whenever any of it may have changed and hands it over whole; nobody changes it
// afterwards, so any thread may read it.
struct ReflexSnapshot {
    struct SectionMutes {
        Uuid id;
        std::vector<UuidSet> steps; // muted layers of each step, in step order
    };

    ReflexPosition position;
    // Pro plays every step; Essentials only each section's first.
    bool pro = false;
    std::vector<SectionMutes> sections; // the current song's
    std::int64_t songCount = 0;         // songs in the set
    // The owner's count of its own mute sends when it built this snapshot. Opaque to the MIDI
    // side; the owner compares it on taking a move over, to tell whether it sent anything itself
    // that may have reached the queue after the move.
    std::uint64_t ownerSends = 0;

    // The output settings, as the main thread would send them.
    std::vector<Layer> layers;
    ControlMode mode = ControlMode::ccMute;
    std::optional<std::string> mackiePort;
    std::int64_t mackieTrackOffset = 0;
    DawHost host = DawHost::logic;

    // The layers muted at `at` (a section of this song), as the main thread would compute them
    // there with no Moment override in force (moving to another section clears it).
    const UuidSet& mutesAt(const ReflexPosition& at) const;
};

// A trigger that moves the position.
enum class ReflexTrigger {
    next,    // the NEXT footswitch: the following section of the song, its first step
    jump,    // a section's jump trigger: that section, its first step
    program, // a program change: that section, the step index kept
    cue,     // the cue link's FIRE: that section of the named song, its first step
};

// Where `trigger` (with the section index `argument` for jump, program and cue) takes the performer
// from `from`, when the snapshot answers it exactly as the main thread would; none otherwise
// (another song, a move within the same section, an index out of range), and the main thread then
// decides as it always has. A cue names a song too (`song`): one outside the set leaves the
// performer in the current song, as on the main thread; another song of the set is not the
// snapshot's to answer (it holds the current song's sections only).
std::optional<ReflexPosition> reflexTarget(const ReflexSnapshot& snapshot,
                                           const ReflexPosition& from, ReflexTrigger trigger,
                                           std::int64_t argument, std::int64_t song = -1);

// The moves the input side would make for each trigger it knows, and for Cadenzo's FIREs to the
// sections nearest the position, from where it stands now: what the MIDI queue prepares answers
// for (prepared_output.h). Entries are in the order a press looks for its trigger; no two fire on
// the same press. Immutable once built; `id` grows with every plan.
struct ReflexPlan {
    struct Entry {
        // 0x90 a note press, 0xB0 a controller press, 0xC0 a program change, 0 none (a FIRE's)
        std::uint8_t status = 0;
        std::uint8_t data1 = 0;
        bool anySource = false;
        std::vector<std::uint32_t> sources; // the sources (by reference) that fire it
        ReflexPosition target;
    };
    std::uint64_t id = 0;
    std::shared_ptr<const ReflexSnapshot> snapshot; // none: nothing is answered ahead
    std::vector<Entry> entries;
};

// A move the input side made on its own: mutes for `to` are already queued for the DAW. The main
// thread takes the position over once, without sending again.
struct ReflexMove {
    ReflexPosition to;
    std::shared_ptr<const ReflexSnapshot> basis; // what the move was decided on
};

} // namespace strata
