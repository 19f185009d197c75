import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The hands-free NEXT trigger: shows what is learned (in red while its device is not plugged in)
// and offers learning, cancelling a learn and clearing it.
ToolbarButton {
    id: control

    required property MidiModel midi
    // A learned trigger whose device is absent: it cannot fire until the device is back.
    readonly property bool offline: !midi.learning && midi.hasTrigger && !midi.triggerConnected

    text: midi.triggerLabel
    iconName: "pianoKeys"
    showChevron: true
    labelMaxWidth: offline ? 280 : 190
    accent: midi.learning ? Strata.Palette.gold : offline ? Strata.Palette.red : Strata.Palette.text
    labelColor: midi.learning ? Strata.Palette.gold
              : offline ? Strata.Palette.red
              : midi.hasTrigger ? Strata.Palette.text : Strata.Palette.textDim
    outlined: midi.learning || offline
    help: "Set a hands-free NEXT trigger \u2014 a USB footswitch or a key on your keyboard. For direct jumps, learn a trigger per section. Mouse and \u2190/\u2192 keys always work too."
    onClicked: menu.popup(control, 0, control.height + 6)

    DarkMenu {
        id: menu
        objectName: "triggerMenu"
        implicitWidth: 300

        DarkMenuItem {
            objectName: "listeningItem"
            text: "Listening\u2026 press your pedal/key"
            enabled: false
            visible: control.midi.learning
            height: visible ? implicitHeight : 0
        }
        DarkMenuItem {
            objectName: "cancelLearningItem"
            text: "Cancel Learning"
            hint: "Esc"
            visible: control.midi.learning
            height: visible ? implicitHeight : 0
            onTriggered: control.midi.cancelLearning()
        }
        DarkMenuItem {
            objectName: "learnItem"
            text: "Learn NEXT Trigger\u2026"
            visible: !control.midi.learning
            height: visible ? implicitHeight : 0
            onTriggered: control.midi.learnNextTrigger()
        }
        DarkMenuItem {
            objectName: "offlineItem"
            text: "Not connected: " + control.midi.triggerDevice
            enabled: false
            visible: control.offline
            height: visible ? implicitHeight : 0
        }
        DarkMenuItem {
            objectName: "clearItem"
            text: "Clear NEXT Trigger"
            enabled: control.midi.hasTrigger
            onTriggered: control.midi.clearNextTrigger()
        }
    }
}
