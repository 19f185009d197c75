import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// Whether Cadenzo is heard: a dot and "CUE · <host>" or "CUE · OFFLINE". A long host name is
// shortened when the toolbar is short of room.
Item {
    id: indicator

    required property CueModel cue

    implicitWidth: dot.width + 7 + Math.ceil(caption.implicitWidth) + 1
    implicitHeight: 28

    Rectangle {
        id: dot
        objectName: "cueDot"
        width: 7
        height: 7
        radius: 3.5
        color: indicator.cue.connected ? Strata.Palette.teal : Strata.Palette.bg3
        anchors.verticalCenter: parent.verticalCenter
    }
    Caption {
        id: caption
        objectName: "cueCaption"
        x: dot.width + 7
        width: Math.max(0, Math.min(implicitWidth, indicator.width - x))
        anchors.verticalCenter: parent.verticalCenter
        text: indicator.cue.caption
        color: indicator.cue.connected ? Strata.Palette.teal : Strata.Palette.textDim
    }
}
