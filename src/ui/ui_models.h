#pragma once

#include "app_state_model.h"
#include "cue_model.h"
#include "layer_editor_model.h"
#include "live_controls.h"
#include "live_moments_model.h"
#include "midi_model.h"
#include "notices_model.h"
#include "remote_model.h"
#include "section_grid_model.h"
#include "setlist_model.h"
#include "setup_guide_model.h"
#include "shell_model.h"

#include <QString>
#include <QVariantMap>

namespace strata {

class CadenzoLink;
class LiveCoordinator;

// Where the main window's QML lives once the UI module is linked in (Qt 6.4 has no loading by
// module name).
inline constexpr const char* kMainWindowUrl = "qrc:/qt/qml/Strata/Ui/Main.qml";

// Every view model of the main window, over the three long-lived objects and the live coordinator
// that joins them. Main thread only; the models must go before the objects they show.
class UiModels {
public:
    UiModels(AppState& state, MidiService& midi, CadenzoLink& link, LiveCoordinator& live,
             MainLoop& loop, RemoteHub* remoteHub = nullptr);
    UiModels(const UiModels&) = delete;
    UiModels& operator=(const UiModels&) = delete;

    // The window's (and ContentView's) required properties, by name.
    QVariantMap properties();

    AppStateModel appState;
    MidiModel midi;
    CueModel cue;
    LiveControls live;
    ShellModel shell;
    SetupGuideModel guide;
    QuickStartModel quickStart;
    SetlistModel setlist;
    SectionGridModel grid;
    LayerEditorModel layerEditor;
    NoticesModel notices;
    LiveMomentsModel liveMoments;
    RemoteModel remote;
};

// The display face, before any QML is loaded: League Spartan for every text item (plain Text does
// not inherit a window's font) when the system has it, else the default sans.
void installAppearance();

} // namespace strata
