import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import Strata.Ui
import Strata.Ui as Strata

// How Strata drives the DAW: Mackie Control or CC mutes, which DAW it is (Ardour banks and takes
// CC mutes differently), where the Mackie surface talks, and where musical time comes from
// (Cadenzo's cue link, the DAW's MIDI clock and from which source, or Ableton Link).
ToolbarButton {
    id: control

    required property AppStateModel appState
    required property MidiModel midi
    required property LiveControls live
    required property CueModel cue

    text: appState.controlModeTitle
    accent: Strata.Palette.text
    showChevron: true
    onClicked: menu.popup(control, control.width - menu.width, control.height + 6)

    // Why the last "Save Ardour MIDI map…" failed; empty after a success.
    property string mapError

    function saveMap(file) {
        mapError = live.saveArdourMidiMap(file)
        return mapError.length === 0
    }

    FileDialog {
        id: mapDialog
        objectName: "mapDialog"
        title: "Save Ardour MIDI map"
        fileMode: FileDialog.SaveFile
        defaultSuffix: "map"
        nameFilters: ["Ardour MIDI maps (*.map)"]
        onAccepted: control.saveMap(selectedFile)
    }

    DarkMenu {
        id: menu
        objectName: "controlMenu"
        implicitWidth: 270

        MenuHeading {
            text: "CONTROL MODE"
        }
        DarkMenuItem {
            objectName: "mackieItem"
            text: "Mackie Control"
            checkable: false
            checked: control.appState.mackieMode
            onTriggered: control.live.setControlMode("mackieControl")
        }
        DarkMenuItem {
            objectName: "ccMuteItem"
            text: "CC Mute (MIDI Learn)"
            checked: !control.appState.mackieMode
            onTriggered: control.live.setControlMode("ccMute")
        }
        MenuDivider {}
        MenuHeading {
            text: "DAW HOST"
        }
        DarkMenuItem {
            objectName: "logicHostItem"
            text: "Logic Pro / MainStage"
            checked: !control.appState.ardourHost
            onTriggered: control.live.setDawHost("logic")
        }
        DarkMenuItem {
            objectName: "ardourHostItem"
            text: "Ardour"
            checked: control.appState.ardourHost
            onTriggered: control.live.setDawHost("ardour")
        }
        // The Ardour entries stay in place and are greyed out for other hosts: a menu's list does
        // not always lay its entries out again when one of them appears while it is closed.
        DarkMenuItem {
            // Ardour's CC mutes are toggles: when it and Strata disagree, the user un-mutes every
            // track there and Strata starts again from "all sounding".
            objectName: "resyncItem"
            text: "Resync CC mutes"
            enabled: control.appState.ardourHost && !control.appState.mackieMode
            onTriggered: control.live.resyncCCMutes()
        }
        DarkMenuItem {
            id: saveMapItem
            objectName: "saveMapItem"
            text: "Save Ardour MIDI map\u2026"
            enabled: control.appState.ardourHost
            onTriggered: {
                mapDialog.currentFolder = control.live.ardourMapFolder()
                mapDialog.currentFile = mapDialog.currentFolder + "/Strata.map"
                mapDialog.open()
            }
        }
        Instantiator {
            // Why the last save failed, right below the entry, until a save succeeds.
            model: control.mapError.length > 0 ? [control.mapError] : []
            delegate: DarkMenuItem {
                required property string modelData
                objectName: "mapErrorItem"
                text: "Could not save the map: " + modelData
                enabled: false
            }
            onObjectAdded: (index, object) => {
                for (let i = 0; i < menu.count; ++i) {
                    if (menu.itemAt(i) === saveMapItem) {
                        menu.insertItem(i + 1, object)
                        return
                    }
                }
            }
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
        MenuDivider {}
        MenuHeading {
            text: "TIME SOURCE"
        }
        DarkMenuItem {
            objectName: "cadenzoTimeItem"
            text: "Cadenzo (cue link)"
            checked: !control.cue.clockSource && !control.cue.linkSource
            onTriggered: control.cue.setTimeSource("cadenzo")
        }
        DarkMenuItem {
            id: clockTimeItem
            objectName: "clockTimeItem"
            text: "MIDI clock"
            checked: control.cue.clockSource
            onTriggered: control.cue.setTimeSource("midiClock")
        }
        Instantiator {
            // The sources the clock may come from, below "MIDI clock"; greyed out while the set
            // takes its time from Cadenzo.
            model: control.cue.clockDevices
            delegate: DarkMenuItem {
                required property string modelData
                objectName: "clockDeviceItem_" + modelData
                text: "    " + modelData
                enabled: control.cue.clockSource
                checked: control.cue.clockDevice === modelData
                onTriggered: control.cue.setClockDevice(modelData)
            }
            onObjectAdded: (index, object) => {
                for (let i = 0; i < menu.count; ++i) {
                    if (menu.itemAt(i) === clockTimeItem) {
                        menu.insertItem(i + 1 + index, object)
                        return
                    }
                }
            }
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
        DarkMenuItem {
            objectName: "linkTimeItem"
            text: "Ableton Link"
            checked: control.cue.linkSource
            onTriggered: control.cue.setTimeSource("link")
        }
        MenuDivider {}
        MenuHeading {
            text: "MACKIE OUTPUT PORT"
        }
        DarkMenuItem {
            objectName: "defaultPortItem"
            text: "Strata (default)"
            checked: control.appState.mackiePort.length === 0 || control.appState.mackiePort === "Strata"
            onTriggered: control.live.setMackiePort("")
        }
        Instantiator {
            // "Strata" is the default entry above.
            model: control.midi.destinations.filter(name => name !== "Strata")
            delegate: DarkMenuItem {
                required property string modelData
                objectName: "portItem_" + modelData
                text: modelData
                checked: control.appState.mackiePort === modelData
                onTriggered: control.live.setMackiePort(modelData)
            }
            onObjectAdded: (index, object) => menu.insertItem(menu.count, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
