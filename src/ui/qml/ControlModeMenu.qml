import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// How Strata drives the DAW: Mackie Control or CC mutes, and where the Mackie surface talks.
ToolbarButton {
    id: control

    required property AppStateModel appState
    required property MidiModel midi
    required property LiveControls live

    text: appState.controlModeTitle
    accent: Strata.Palette.text
    showChevron: true
    onClicked: menu.popup(control, control.width - menu.width, control.height + 6)

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
