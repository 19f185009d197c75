#include "setup_guide_content.h"

namespace strata {

namespace {

std::string inQuotes(std::string_view name) {
    std::string s = "\"";
    s += name;
    s += '"';
    return s;
}

// Where the DAW reads and writes one port of ours: `<both> to "Strata"`. Where the MIDI system
// needs two (JACK): `<input> to "Strata" and <output> to "Strata feedback"`.
std::string pointPorts(const SurfacePortNames& ports, std::string_view both, std::string_view input,
                       std::string_view output) {
    if (ports.dawInput == ports.dawOutput)
        return std::string(both) + " to " + inQuotes(ports.dawInput);
    return std::string(input) + " to " + inQuotes(ports.dawInput) + " and " + std::string(output) +
           " to " + inQuotes(ports.dawOutput);
}

std::string_view logicLearnHint() {
    return "In Logic, the track's mute button \u2192 right-click \u2192 \"Learn\" (or open the "
           "channel strip's mute in the Smart Controls / Controller Assignments with \u2318L).";
}

std::string_view mainStageLearnHint() {
    return "In MainStage, select the channel strip's Mute button \u2192 click \"Learn\" in the "
           "inspector.";
}

constexpr std::string_view kHostMenuStep =
    "In Strata's toolbar, open the mode menu and pick \"Ardour\" under DAW HOST. The choice is "
    "saved with the set.";

// Ardour's control-surface table names a port for each direction: "Receives from" (what the
// surface sends it) and "Sends to" (its feedback).
std::string ardourSurfacePorts(const SurfacePortNames& ports) {
    return pointPorts(ports, "both \"Receives from\" and \"Sends to\"", "\"Receives from\"",
                      "\"Sends to\"");
}

std::vector<GuideStep> ardourCcMuteSteps(const GuidePorts& ports) {
    return {
        {"Switch Strata to CC Mute for Ardour",
         "In Strata's toolbar, set the mode menu to \"CC Mute (MIDI Learn)\" and pick "
         "\"Ardour\" under DAW HOST. Ardour takes a mute CC as a press of the mute button, so "
         "Strata sends only the mutes that change."},
        {"Send every layer to Strata's port",
         "In the LAYERS pane, set each layer's Port to \"Strata\" and give each layer its own "
         "channel + CC (Strata pre-fills CC 20, 21, 22\u2026). Ardour reads them all from that "
         "one port. Where two layers share a channel + CC, only the first drives its track, as "
         "in the MIDI map; the other sends nothing."},
        {"Enable Generic MIDI in Ardour",
         "Ardour \u2192 Edit \u2192 Preferences \u2192 Control Surfaces. Tick \"Generic "
         "MIDI\" and double-click it. Set \"Incoming MIDI on\" to " +
             inQuotes(ports.main.dawInput) + " and \"Outgoing MIDI on\" to " +
             inQuotes(ports.main.dawOutput) +
             ", and tick \"Enable Feedback\": Ardour then reports every change of a mute, so "
             "Strata notices when you mute a track by hand, and when one of its presses found a "
             "track muted already (it presses once more)."},
        {"Load Strata's MIDI map",
         "In Strata's mode menu, click \"Save Ardour MIDI map\u2026\" and save the file into "
         "Ardour's midi_maps folder (~/.config/ardour8/midi_maps on Linux; the number is your "
         "Ardour version). Reopen the Generic MIDI settings and pick \"Strata: <your set>\" "
         "under \"MIDI Bindings\". Layer 1 drives the track right after the BANK offset (track "
         "1 at BANK 1), layer 2 the next, in Ardour's track order. After changing the bank or a "
         "layer's channel or CC, save and load the map again."},
        {"Test it",
         "Toggle a layer's dot in a section. The matching Ardour track should mute/un-mute "
         "instantly. Ardour reports a mute only when it changes, never the mutes it already "
         "has: when Strata starts, or Ardour is wired up, Strata takes every track to be "
         "sounding. A track muted in Ardour beforehand stays muted until a section mutes it "
         "(Strata then sets it right) or you un-mute it. So before the show, and whenever the "
         "two disagree, un-mute every track in Ardour, then pick \"Resync CC mutes\" in "
         "Strata's mode menu."},
    };
}

std::vector<GuideStep> ardourMackieSteps(const GuidePorts& ports) {
    return {
        {"Tell Strata it's Ardour",
         std::string(kHostMenuStep) +
             " Ardour banks its Mackie surfaces differently from Logic Pro, and Strata moves the "
             "bank its way."},
        {"Enable Mackie Control",
         "Ardour \u2192 Edit \u2192 Preferences \u2192 Control Surfaces. Tick \"Mackie "
         "Control\" and double-click it. As the device type, pick \"Mackie Control Universal "
         "Pro\"."},
        {"Point the surface at Strata",
         "In the port table of that window, on the main surface's row (\"mackie control\"), set " +
             ardourSurfacePorts(ports.main) + ". Close the window."},
        {"Place your layer tracks at the matching position",
         "Mackie controls tracks by position in Ardour's editor order. Strata's toolbar shows BANK "
         "TRK N\u2013M \u2014 your layer tracks must sit at exactly those positions. If other "
         "tracks come first, set the BANK stepper in Strata to the position where your layer "
         "tracks begin; Strata moves the surface there itself."},
        {"Test it",
         "Click a section in Strata. The mute states of Ardour's tracks at the Bank position "
         "should change instantly to match, and tracks outside the bank stay untouched."},
        {"Want 16 layers? Add the Extender",
         "Strata publishes a second port, " + inQuotes(ports.extender.dawInput) +
             ", for layers 9\u201316. In the Mackie Control settings, pick the device type with "
             "one extender and the master on the left; its second row, \"mackie control #2\", "
             "is the extender: set " +
             ardourSurfacePorts(ports.extender) +
             " there. Ardour moves both surfaces together as one group of 16 tracks, so Strata "
             "banks "
             "them from the main surface. Layers 9\u201316 show a teal \"XT\" badge. (Mackie "
             "tops out at 16 layers; for more, CC Mute has no limit.)"},
    };
}

} // namespace

std::string_view rawValue(HostChoice host) {
    switch (host) {
    case HostChoice::mainStage:
        return "MainStage";
    case HostChoice::ardour:
        return "Ardour";
    case HostChoice::logic:
        break;
    }
    return "Logic Pro";
}

std::string_view rawValue(ModeChoice mode) {
    return mode == ModeChoice::mackie ? "Mackie" : "CC Mute";
}

std::string_view modeDescription(ModeChoice mode) {
    if (mode == ModeChoice::mackie)
        return "Emulates a Mackie control surface, controlling 8 tracks by position. One "
               "control-surface setup, no per-layer mapping. The controlled bank follows track "
               "selection in the DAW, so track order matters.";
    return "Each layer's mute is bound to its own MIDI CC. You MIDI-Learn each layer's mute in "
           "your DAW once. Works regardless of track position or count, and across multiple "
           "keyboards. Requires per-layer setup.";
}

std::string_view modeDescription(HostChoice host, ModeChoice mode) {
    if (host == HostChoice::ardour && mode == ModeChoice::ccMute)
        return "Each layer's mute is bound to its own MIDI CC. Strata writes the bindings as a "
               "MIDI "
               "map that Ardour loads once \u2014 no learning per layer. The map names tracks by "
               "position from the BANK offset, and works across multiple keyboards.";
    return modeDescription(mode);
}

std::vector<GuideStep> ccMuteSteps(HostChoice host, const GuidePorts& ports) {
    if (host == HostChoice::ardour)
        return ardourCcMuteSteps(ports);
    const std::string h(rawValue(host));
    const std::string_view hint =
        host == HostChoice::mainStage ? mainStageLearnHint() : logicLearnHint();
    return {
        {"Switch Strata to CC Mute",
         "In Strata's toolbar, set the mode menu to \"CC Mute (MIDI Learn)\". The LAYERS pane now "
         "shows a Port + Channel + CC field on every layer."},
        {"Assign a keyboard (or several) per layer",
         "Each layer has its own Port dropdown \u2014 pick which keyboard/device that layer's "
         "sound "
         "lives on. Using up to 4 boards? Assign Layer 1 to Board A, Layer 2 to Board B, and so "
         "on. Strata sends each layer's mute to the port + channel you set, so different sounds "
         "can live on different keyboards at once."},
        {"Pick a unique CC per layer",
         "Strata pre-fills CC 20, 21, 22\u2026 one per layer. These are the messages that "
         "mute/un-mute each sound. You can leave the defaults \u2014 just make sure no two layers "
         "share a CC on the same port."},
        {"MIDI-Learn each layer's mute in " + h,
         std::string(hint) +
             " With Learn active, click that layer's dot in Strata (or briefly toggle it) so it "
             "sends its CC \u2014 " +
             h + " captures it. Repeat once per layer. ~5 minutes total, done once."},
        {"Test it",
         "Toggle a layer's dot in a section. The matching " + h +
             " channel strip should mute/un-mute instantly. CC mappings are tied to specific "
             "strips, so they're independent of track selection and order, and there's no "
             "layer-count limit."},
    };
}

std::vector<GuideStep> mackieSteps(HostChoice host, const GuidePorts& ports) {
    if (host == HostChoice::ardour)
        return ardourMackieSteps(ports);
    if (host == HostChoice::mainStage)
        return {
            {"Open MainStage", "Launch the app. Open any concert, or start a new one."},
            {"Add the Mackie Control surface",
             "MainStage \u2192 Preferences \u2192 Controllers. Click Add. Pick \"Mackie Control\" "
             "from the list."},
            {"Point both ports at Korvel Strata",
             "Set " +
                 pointPorts(ports.main, "both Input Port and Output Port", "Input Port",
                            "Output Port") +
                 "."},
            {"Order your channel strips to match",
             "Mackie Control maps to channel strips by position. The leftmost strip = TRK 1 in "
             "Strata, next = TRK 2, etc. Re-order or rename in MainStage as needed. If you have "
             "non-layer strips (utility, click) first, set the BANK stepper in Strata' toolbar so "
             "it skips past them."},
            {"Test it",
             "Click a section in Strata. MainStage's channel strip mutes should toggle to match "
             "the layer state."},
            {"Want 16 layers? Add the Extender",
             "Strata publishes a second port, " + inQuotes(ports.extender.dawInput) +
                 ", for layers 9\u201316. In MainStage \u2192 Preferences \u2192 Controllers, "
                 "click Add and pick \"Mackie Control Extender\", set " +
                 pointPorts(ports.extender, "both ports", "its input port", "its output port") +
                 ", and place it after the main Mackie Control. Layers 9\u201316 show a teal "
                 "\"XT\" badge. (Mackie tops out at 16 layers; for more, CC Mute has no limit.)"},
        };
    return {
        {"Open Logic Pro", "Launch the app. No project required yet."},
        {"Add the Mackie Control surface",
         "Logic Pro \u2192 Settings \u2192 Control Surfaces \u2192 Setup. Click New \u2192 "
         "Install. Find \"Mackie Designs \u2192 Mackie Control\". Highlight it and click Add."},
        {"Point both ports at Korvel Strata",
         "In the new control surface panel, set " +
             pointPorts(ports.main, "both Input Port and Output Port", "Input Port",
                        "Output Port") +
             ". Close the Setup window."},
        {"Place your layer tracks at the matching position",
         "Mackie controls 8 tracks at a time. Strata' toolbar shows BANK TRK N\u2013M \u2014 your "
         "layer tracks must sit at exactly those positions in Logic. If your project already has "
         "Cadenzo, audio, or click tracks first, set the BANK stepper in Strata to the position "
         "where your layer tracks begin (e.g. BANK 9 if layers start at track 9). Strata will "
         "tell the Mackie surface to focus on that bank automatically."},
        {"Test it",
         "Click a section in Strata. The mute states of Logic's tracks at the Bank position "
         "should change instantly to match. Confirm Cadenzo + audio tracks (outside the bank) "
         "are untouched."},
        {"Want 16 layers? Add the Extender",
         "Strata publishes a second port, " + inQuotes(ports.extender.dawInput) +
             ", for layers 9\u201316. In Logic \u2192 Control Surfaces \u2192 Setup, click New "
             "\u2192 Install \u2192 \"Mackie Designs \u2192 Mackie Control Extender\" and set " +
             pointPorts(ports.extender, "both its ports", "its input port", "its output port") +
             ". Order it AFTER the main Mackie Control so it owns tracks 9\u201316. Layers "
             "9\u201316 in Strata show a teal \"XT\" badge and drive that surface. (Mackie tops "
             "out at 16 layers via the extender; for more than that, CC Mute has no limit.)"},
    };
}

// Under PipeWire the ports are JACK ports in PipeWire's graph: a DAW on JACK lists them, a DAW
// on ALSA MIDI reaches them only through a patchbay.
GuideStep pipeWireStep(ModeChoice mode, const GuidePorts& ports) {
    const SurfacePortNames& p = ports.main;
    std::string detail =
        "Strata runs on PipeWire's JACK here. A DAW that uses JACK too (Ardour's JACK/PipeWire "
        "audio system, or any program started with pw-jack) lists Strata's ports in its own "
        "menus, under the client \"Strata\". A DAW on ALSA MIDI does not: connect them in a "
        "PipeWire patchbay (qpwgraph, Helvum or Carla), from " +
        inQuotes(p.dawInput) + " to the DAW's MIDI input";
    if (mode == ModeChoice::mackie)
        detail += " and from the DAW's MIDI output to " + inQuotes(p.dawOutput) +
                  " (for the "
                  "extender, " +
                  inQuotes(ports.extender.dawInput) + " and " + inQuotes(ports.extender.dawOutput) +
                  " the same way)";
    detail += "; the DAW's ALSA ports appear there under \"Midi-Bridge\".";
    return {"On PipeWire: see the ports in a patchbay", detail};
}

std::vector<GuideStep> guideSteps(HostChoice host, ModeChoice mode, const GuidePorts& ports) {
    std::vector<GuideStep> steps =
        mode == ModeChoice::mackie ? mackieSteps(host, ports) : ccMuteSteps(host, ports);
    if (ports.pipeWire)
        steps.push_back(pipeWireStep(mode, ports));
    return steps;
}

std::string closingLine(HostChoice host) {
    return "You're ready. Toggle a layer in the section grid \u2014 " +
           std::string(rawValue(host)) + " should mute or unmute the matching track in real time.";
}

const std::vector<QuickStartCard>& quickStartCards() {
    static const std::vector<QuickStartCard> cards{
        {"square.grid.3x3.fill", "The grid is your mix board",
         "Columns are your SOUNDS (piano, pad, lead\u2026). Rows are your SECTIONS (verse, "
         "chorus\u2026). The dots are on/off. A glowing dot means that sound plays in that "
         "section; a dim dot means it's muted. Click a dot to flip it. That's the whole core."},
        {"arrow.left.arrow.right", "Move through the song",
         "Use PREV / NEXT (or \u2190 \u2192), or learn a footswitch/key as your trigger to advance "
         "hands-free. Each section's per-section pedal chip lets you jump straight to it."},
        {"list.number", "Steps = the section's script",
         "A section can hold several STEPS you walk through in order (bars 1\u20134 = pad, "
         "5\u20138 = pad+strings). They're the backbone \u2014 advance them by footswitch, "
         "arrows, or auto-after-N-bars. (Pro mode.)"},
        {"sparkles", "Moments = your moves on top",
         "A MOMENT is a one-off you layer ON TOP \u2014 swell a pad, drop the lead, change a "
         "patch \u2014 that fires at a position (\"last 2 bars\") or by hand, then reverts. It "
         "never changes your steps. Per-layer RULES repeat a Moment across chosen sections "
         "automatically."},
        {"dot.radiowaves.left.and.right", "Cadenzo drives it live",
         "When Cadenzo is on the network and playing, Strata follows it automatically and your "
         "bar-timed Steps + Moments fire in time. No Cadenzo? Everything still works \u2014 you "
         "just drive it by hand. The toolbar lights show CUE, MIDI activity, and DAW "
         "connection."},
    };
    return cards;
}

std::vector<GuideStep> clockSteps(HostChoice host) {
    GuideStep send;
    switch (host) {
    case HostChoice::logic:
        send = {"Send MIDI clock from Logic Pro",
                "File \u2192 Project Settings \u2192 Synchronization \u2192 MIDI. Under "
                "Destination, pick Strata's input port and tick \"Clock\", and tick \"Song "
                "Position Pointer\" so that Strata knows the bar after you locate. Logic then "
                "sends Start, Stop and 24 clocks a beat while it plays."};
        break;
    case HostChoice::mainStage:
        send = {"Send MIDI clock from MainStage",
                "Select the concert in the Concerts list, open the Timing section of the "
                "Inspector and set \"Send MIDI Clock to\" to Strata's input port. MainStage "
                "sends clock and Start and Stop at the concert's tempo."};
        break;
    case HostChoice::ardour:
        send = {"Send MIDI clock from Ardour",
                "Ardour \u2192 Edit \u2192 Preferences \u2192 Transport \u2192 Generators: tick "
                "\"Enable MIDI Clock generation\". Then Window \u2192 MIDI Connections, Ardour "
                "tab: connect \"MIDI Clock out\" to Strata's input port (\"Strata In\"). Ardour "
                "sends Start, Stop, Song Position Pointer and 24 clocks a beat while it rolls."};
        break;
    }
    return {
        send,
        {"Let the set follow the clock",
         "In Strata's toolbar, open the mode menu and pick \"MIDI clock\" under TIME SOURCE, "
         "then the source the clock comes from just below it. The choice is saved with the set; "
         "sets that keep \"Cadenzo\" are unchanged. The cue area then reads \"CLOCK \u00B7 "
         "124 BPM\" while the DAW plays."},
        {"What follows the clock",
         "Steps with a bar count end on the DAW's bar grid, however its tempo changes; Moments "
         "and layer rules count bars of the clock from the section's start. \"Last N bars\" "
         "needs the section's length, so every step of the section needs a bar count. When no "
         "clock arrives for two seconds, Strata counts the DAW as stopped."},
    };
}

std::vector<GuideStep> linkSteps() {
    return {
        {"Turn Link on in the DAW",
         "Ableton Link shares tempo, the bar and start/stop between programs on the same "
         "network, with no cables or ports. In the DAW (or any Link app), switch Link on and "
         "also its \"Start Stop Sync\", so that pressing play there starts the shared "
         "transport."},
        {"Same network",
         "The computer running Strata and the one running the DAW must be on the same local "
         "network (or be the same computer). Link finds its peers by itself; a firewall must let "
         "its multicast traffic through."},
        {"Let the set follow Link",
         "In the toolbar's mode menu pick \"Ableton Link\" under TIME SOURCE. Strata joins the "
         "session only while a set uses it. The cue area then reads \"LINK \u00B7 1 peer "
         "\u00B7 120 BPM\". Steps, Moments and layer rules count bars of four beats on the "
         "session's own bar lines, following every tempo change."},
    };
}

} // namespace strata
