#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// The texts of the MIDI setup guide and the quick start, in one place: the sheets show them and the
// tests read them from here.

// The host whose menus the guide walks through; the raw value is the picker's label.
enum class HostChoice { logic, mainStage, ardour };
// The control mode the guide explains; the raw value is the picker's label.
enum class ModeChoice { ccMute, mackie };

inline constexpr std::array<HostChoice, 3> allHostChoices{HostChoice::logic, HostChoice::mainStage,
                                                          HostChoice::ardour};
inline constexpr std::array<ModeChoice, 2> allModeChoices{ModeChoice::ccMute, ModeChoice::mackie};

std::string_view rawValue(HostChoice host); // "Logic Pro", "MainStage", "Ardour"
std::string_view rawValue(ModeChoice mode); // "CC Mute", "Mackie"

struct GuideStep {
    std::string title;
    std::string detail;
    friend bool operator==(const GuideStep&, const GuideStep&) = default;
};

// One surface's ports as the DAW lists them: the one it reads from, the one it sends feedback to.
struct SurfacePortNames {
    std::string dawInput;
    std::string dawOutput;
};

// The ports the DAW must be pointed at, as the running MIDI system lists them.
struct GuidePorts {
    SurfacePortNames main{"Strata", "Strata"};
    SurfacePortNames extender{"Strata XT", "Strata XT"};
    // The MIDI system is PipeWire's JACK: a closing step says where the ports appear.
    bool pipeWire = false;
};

// The heading's description of a mode.
std::string_view modeDescription(ModeChoice mode);
// As the host does it: Ardour loads the CC bindings from a map instead of learning them.
std::string_view modeDescription(HostChoice host, ModeChoice mode);

// Ardour's CC steps name the port the layers send on and the one its feedback comes back on,
// so they take the ports too; the other hosts' CC steps name none.
std::vector<GuideStep> ccMuteSteps(HostChoice host, const GuidePorts& ports = {});
std::vector<GuideStep> mackieSteps(HostChoice host, const GuidePorts& ports);
// The steps shown for a host and mode.
std::vector<GuideStep> guideSteps(HostChoice host, ModeChoice mode, const GuidePorts& ports);
// "You're ready. Toggle a layer in the section grid — <host> should mute or unmute …"
std::string closingLine(HostChoice host);

// How to make the host send MIDI clock to Strata and have a set follow it (optional: without it a
// set takes its time from Cadenzo).
std::vector<GuideStep> clockSteps(HostChoice host);
// How to share tempo and bars with the DAW over Ableton Link instead (any host that has Link).
std::vector<GuideStep> linkSteps();

// One card of the quick start. `icon` names the symbol the sheet draws.
struct QuickStartCard {
    std::string icon;
    std::string title;
    std::string body;
};
const std::vector<QuickStartCard>& quickStartCards();

} // namespace strata
