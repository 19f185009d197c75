#include "command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace strata {
namespace {

// QGuiApplication's own options (with one dash or two): those that take the next argument, and
// those that do not.
constexpr std::array<std::string_view, 10> kQtOptionsWithValue{
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry"};
constexpr std::array<std::string_view, 4> kQtFlags{"reverse", "nograb", "dograb", "sync"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help")
            return {CommandLine::Action::help, {}};
        if (argument == "-v" || argument == "--version") {
            result.action = CommandLine::Action::version;
            continue;
        }
        std::string_view name = argument;
        if (name.size() < 2 || name[0] != '-')
            return {CommandLine::Action::error, "unexpected argument '" + argument + "'"};
        name.remove_prefix(name.size() > 2 && name[1] == '-' ? 2 : 1);
        if (among(kQtFlags, name) || name.rfind("qmljsdebugger=", 0) == 0)
            continue;
        if (among(kQtOptionsWithValue, name)) {
            if (i + 1 == arguments.size())
                return {CommandLine::Action::error, "option '" + argument + "' needs a value"};
            ++i;
            continue;
        }
        return {CommandLine::Action::error, "unknown option '" + argument + "'"};
    }
    return result;
}

std::string usageText() {
    return "Usage: strata [--help | --version]\n"
           "\n"
           "Strata mutes and unmutes your DAW's tracks section by section while you play live,\n"
           "as a Mackie Control surface or with one MIDI CC per layer. Step through the set\n"
           "with the arrow keys, a footswitch or program changes, or let it follow the Cadenzo\n"
           "cue player on the network.\n"
           "\n"
           "Options:\n"
           "  -h, --help       show this help and exit\n"
           "  -v, --version    show the version and exit\n"
           "Qt's own options (-platform NAME, -display DISPLAY, ...) are passed on to Qt.\n"
           "\n"
           "Environment:\n"
           "  STRATA_MIDI=jack|alsa|none  use that MIDI system instead of choosing one (JACK,\n"
           "                              PipeWire's JACK, the ALSA sequencer, in that order)\n"
           "  JACK_DEFAULT_SERVER=NAME    the JACK server to use\n"
           "  QT_QPA_PLATFORM=offscreen   run without a display\n"
           "\n"
           "The set is kept in $XDG_DATA_HOME/KorvelPatches/setlist.json\n"
           "(~/.local/share/KorvelPatches/setlist.json when XDG_DATA_HOME is not set).\n";
}

std::string versionText() {
    return std::string("strata ") + STRATA_VERSION + "\n";
}

} // namespace strata
