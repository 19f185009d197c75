#include "editor_texts.h"

#include <vector>

namespace strata::editor {

namespace {

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}

std::string plural(std::int64_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string triggerControl(const AdvanceTrigger& trigger) {
    return (trigger.kind == AdvanceTrigger::Kind::cc ? "CC " : "N ") +
           std::to_string(trigger.data1);
}

std::vector<std::string> namesIn(const UuidSet& ids, std::span<const Layer> layers) {
    std::vector<std::string> names;
    for (const Layer& layer : layers)
        if (ids.contains(layer.id))
            names.push_back(layer.name);
    return names;
}

} // namespace

StepBadge stepBadge(const SectionStep& step, bool isLastStep) {
    if (isLastStep && !step.returnToMain)
        return {
            "hold",
            "Last step \u2014 holds until the next section fires. (Right-click \u2192 Momentary "
            "to make it snap back to the main patch.)",
            false};
    StepBadge badge;
    if (step.advanceBars) {
        badge.text = std::to_string(*step.advanceBars) + " bars " +
                     (step.returnToMain ? "\u21A9" : "\u2192");
        badge.help = "Auto-leaves to the next step after " + std::to_string(*step.advanceBars) +
                     " bars. Click to change.";
    } else {
        badge.text = "hold";
        badge.help = "manually advance";
    }
    if (step.returnToMain)
        badge.help = "Momentary: " + badge.help;
    return badge;
}

std::optional<std::int64_t> nextAdvanceBars(std::optional<std::int64_t> bars) {
    if (!bars)
        return 2;
    switch (*bars) {
    case 2:
        return 4;
    case 4:
        return 8;
    case 8:
        return std::nullopt;
    default:
        return 2;
    }
}

std::string jumpChipText(const AdvanceTrigger& trigger) {
    std::string text = "Jumps here from ";
    if (!trigger.deviceName.empty())
        text += trigger.deviceName + " ";
    return text + triggerControl(trigger);
}

std::string jumpChipHelp(const AdvanceTrigger& trigger) {
    std::string help = "Plays this section when " + triggerControl(trigger) + " arrives";
    if (!trigger.deviceName.empty())
        help += " from " + trigger.deviceName;
    return help + ". Click to re-learn.";
}

std::string momentTriggerText(const AdvanceTrigger& trigger) {
    std::string text = "Fires from ";
    if (!trigger.deviceName.empty())
        text += trigger.deviceName + " ";
    return text + triggerControl(trigger);
}

std::string momentTriggerHelp(const AdvanceTrigger& trigger) {
    std::string help = "Fires this Moment when " + triggerControl(trigger) + " arrives";
    if (!trigger.deviceName.empty())
        help += " from " + trigger.deviceName;
    return help + " while its section plays. Click to re-learn.";
}

std::string notConnectedHelp(const AdvanceTrigger& trigger) {
    const std::string device = trigger.deviceName.empty() ? "Its device" : trigger.deviceName;
    return " Not connected: " + device +
           " is not plugged in; the trigger works again as soon as it is back.";
}

FireAnchor anchorOfKind(FireAnchor::Kind kind, const FireAnchor& current) {
    const std::int64_t bars = current.hasBars() ? current.bars : 2;
    switch (kind) {
    case FireAnchor::Kind::manual:
        return FireAnchor::manual();
    case FireAnchor::Kind::onSectionEnter:
        return FireAnchor::onSectionEnter();
    case FireAnchor::Kind::barsAfterStart:
        return FireAnchor::barsAfterStart(bars);
    case FireAnchor::Kind::barsBeforeSectionEnd:
        return FireAnchor::barsBeforeSectionEnd(bars);
    }
    return current;
}

std::string momentSummary(const Moment& moment, std::span<const Layer> layers) {
    std::string anchor;
    switch (moment.anchor.kind) {
    case FireAnchor::Kind::manual:
        anchor = "when you trigger it by hand";
        break;
    case FireAnchor::Kind::onSectionEnter:
        anchor = "when this section starts";
        break;
    case FireAnchor::Kind::barsBeforeSectionEnd:
        anchor = plural(moment.anchor.bars, "bar") + " before this section ends";
        break;
    case FireAnchor::Kind::barsAfterStart:
        anchor = plural(moment.anchor.bars, "bar") + " after this section starts";
        break;
    }

    std::vector<std::string> actions;
    if (const auto in = namesIn(moment.unmuteLayerIDs, layers); !in.empty())
        actions.push_back("swell " + join(in, ", ") + " in");
    if (const auto out = namesIn(moment.muteLayerIDs, layers); !out.empty())
        actions.push_back("mute " + join(out, ", ") + " out");
    if (const auto n = static_cast<std::int64_t>(moment.programChanges.size()); n > 0)
        actions.push_back(plural(n, "patch change"));
    if (const auto n = static_cast<std::int64_t>(moment.ccSends.size()); n > 0)
        actions.push_back(plural(n, "effect send"));

    // A Moment that does nothing yet (a new one) says only when it fires, rather than ending on a
    // dangling dash.
    if (actions.empty())
        return "Fires " + anchor + ".";
    return "Fires " + anchor + " \u2014 " + join(actions, ", ") + ".";
}

} // namespace strata::editor
