#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The words the section grid and its editors build from the document: step badges, jump-trigger
// chips, Moment summaries, and the bar-count rules of the anchor pickers. Plain C++ so that the
// rules can be tested without a window.
namespace strata::editor {

// What a step row's badge shows, and whether clicking it changes anything.
struct StepBadge {
    std::string text;
    std::string help;
    bool clickable = true;
};

// "hold" for the last step of a section unless it is momentary; otherwise "4 bars →" ("↩" for a
// momentary step), or "hold" without a bar count.
StepBadge stepBadge(const SectionStep& step, bool isLastStep);

// The badge's click cycle: none → 2 → 4 → 8 → none; anything else counts as none.
std::optional<std::int64_t> nextAdvanceBars(std::optional<std::int64_t> bars);

// "Jumps here from FCB1010 CC 7" / "… N 64"; the device is left out when it has no name.
std::string jumpChipText(const AdvanceTrigger& trigger);
std::string jumpChipHelp(const AdvanceTrigger& trigger);
inline constexpr const char* kLearnJumpHelp =
    "Learn a MIDI control (e.g. an FCB1010 footswitch) to jump straight to this section. Sustain "
    "not allowed.";

// A hand-fired Moment's trigger control: "Fires from FCB1010 CC 7", its help, and the help of the
// control before anything is learned.
std::string momentTriggerText(const AdvanceTrigger& trigger);
std::string momentTriggerHelp(const AdvanceTrigger& trigger);
inline constexpr const char* kLearnMomentHelp =
    "Learn a MIDI key or footswitch that fires this Moment while its section plays. Sustain not "
    "allowed.";
// A learn control's help while it listens.
inline constexpr const char* kListeningHelp =
    "Listening: press the key or footswitch to learn. Click again or press Esc to stop; after 30 "
    "seconds it stops by itself.";
// Added to a trigger's help while its device is not plugged in.
std::string notConnectedHelp(const AdvanceTrigger& trigger);

// The anchor a picker chip sets: a bar-timed kind keeps the current bar count when the current
// anchor has one, else starts at 2.
FireAnchor anchorOfKind(FireAnchor::Kind kind, const FireAnchor& current);
// The steppers' range.
inline constexpr std::int64_t kMinStepperBars = 1;
inline constexpr std::int64_t kMaxStepperBars = 32;

// "Fires 2 bars before this section ends — swell Pad in, 1 patch change." Layer names come from
// `layers` (the card's layers), in their order; ids of other layers are not named.
std::string momentSummary(const Moment& moment, std::span<const Layer> layers);

} // namespace strata::editor
