import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// "MIDI" lights while Strata sends; in Mackie Control mode "DAW ✓" while the surface feedback
// comes back. Without a MIDI system both give way to a warning.
Item {
    id: lights

    required property MidiModel midi
    required property bool mackieMode

    implicitWidth: midi.available ? row.implicitWidth : warning.implicitWidth
    implicitHeight: 28

    HoverHandler {
        id: hover
    }

    Row {
        id: row
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6
        visible: lights.midi.available

        Light {
            objectName: "midiLight"
            text: "MIDI"
            lit: lights.midi.midiLit
        }
        Light {
            objectName: "dawLight"
            text: lights.midi.dawLit ? "DAW \u2713" : "DAW ?"
            lit: lights.midi.dawLit
            visible: lights.mackieMode
        }
    }

    Rectangle {
        id: warning
        objectName: "midiUnavailable"
        visible: !lights.midi.available
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: warningText.implicitWidth + 20
        implicitHeight: 26
        radius: 6
        color: Strata.Palette.alpha(Strata.Palette.red, 0.14)
        border.color: Strata.Palette.alpha(Strata.Palette.red, 0.6)
        Caption {
            id: warningText
            anchors.centerIn: parent
            text: "MIDI UNAVAILABLE"
            color: Strata.Palette.red
        }
    }

    HoverHelp {
        objectName: "lightsHelp"
        shown: hover.hovered
        text: !lights.midi.available
              ? "No MIDI system was found (JACK or the ALSA sequencer). Strata keeps running, but nothing reaches your DAW until one is available."
              : lights.mackieMode
                ? "MIDI lights when Strata sends. DAW \u2713 means your Mackie control surface is responding (connected)."
                : "Lights when Strata sends MIDI."
    }

    component Light: Rectangle {
        id: light
        property string text
        property bool lit: false

        implicitWidth: label.implicitWidth + 22
        implicitHeight: 26
        radius: 6
        color: lit ? Strata.Palette.alpha(Strata.Palette.teal, 0.12) : Strata.Palette.bg2
        border.color: lit ? Strata.Palette.alpha(Strata.Palette.teal, 0.55) : Strata.Palette.border

        Rectangle {
            x: 7
            anchors.verticalCenter: parent.verticalCenter
            width: 6
            height: 6
            radius: 3
            color: light.lit ? Strata.Palette.teal : Strata.Palette.bg3
        }
        Caption {
            id: label
            x: 16
            anchors.verticalCenter: parent.verticalCenter
            text: light.text
            color: light.lit ? Strata.Palette.teal : Strata.Palette.textDim
        }
    }
}
