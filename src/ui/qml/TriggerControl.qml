import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The hands-free NEXT trigger: shows what is learned and offers learning and clearing it.
ToolbarButton {
    id: control

    required property MidiModel midi

    text: midi.triggerLabel
    iconName: "pianoKeys"
    showChevron: true
    labelMaxWidth: 190
    accent: midi.learning ? Strata.Palette.gold : Strata.Palette.text
    labelColor: midi.learning ? Strata.Palette.gold : midi.hasTrigger ? Strata.Palette.text : Strata.Palette.textDim
    outlined: midi.learning
    help: "Set a hands-free NEXT trigger \u2014 a USB footswitch or a key on your keyboard. For direct jumps, learn a trigger per section. Mouse and \u2190/\u2192 keys always work too."
    onClicked: menu.popup(control, 0, control.height + 6)

    DarkMenu {
        id: menu
        objectName: "triggerMenu"
        implicitWidth: 280

        DarkMenuItem {
            objectName: "listeningItem"
            text: "Listening\u2026 press your pedal/key"
            enabled: false
            visible: control.midi.learning
            height: visible ? implicitHeight : 0
        }
        DarkMenuItem {
            objectName: "learnItem"
            text: "Learn NEXT Trigger\u2026"
            visible: !control.midi.learning
            height: visible ? implicitHeight : 0
            onTriggered: control.midi.learnNextTrigger()
        }
        DarkMenuItem {
            objectName: "clearItem"
            text: "Clear NEXT Trigger"
            enabled: control.midi.hasTrigger
            onTriggered: control.midi.clearNextTrigger()
        }
    }
}
