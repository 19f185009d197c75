import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The help text a control shows while the pointer rests on it.
ToolTip {
    id: tip

    // Whether the pointer is over the control that owns this help.
    property bool shown: false

    visible: shown && text.length > 0
    delay: 500
    timeout: -1
    x: Math.round((parent ? parent.width - width : 0) / 2)
    y: parent ? parent.height + 6 : 0
    padding: 10
    width: Math.min(implicitWidth, 380)

    contentItem: Text {
        text: tip.text
        color: Strata.Palette.text
        font.pixelSize: 13
        wrapMode: Text.Wrap
        lineHeight: 1.15
    }
    background: Rectangle {
        color: Strata.Palette.bg2
        border.color: Strata.Palette.border
        radius: 8
    }
}
