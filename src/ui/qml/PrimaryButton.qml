import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The one button that moves a sheet on: filled with its accent.
AbstractButton {
    id: control

    property color accent: Strata.Palette.teal
    property bool filled: true

    implicitHeight: 38
    implicitWidth: Math.max(96, label.implicitWidth + 36)
    hoverEnabled: true

    contentItem: Caption {
        id: label
        text: control.text
        horizontalAlignment: Text.AlignHCenter
        font.pixelSize: 13
        font.weight: Font.Bold
        color: control.filled ? Strata.Palette.bg0 : (control.hovered ? Strata.Palette.text : Strata.Palette.textDim)
    }
    background: Rectangle {
        radius: 8
        color: control.filled ? (control.down ? Qt.darker(control.accent, 1.2)
                                 : control.hovered ? Qt.lighter(control.accent, 1.1) : control.accent)
                              : (control.hovered ? Strata.Palette.bg2 : "transparent")
        border.color: control.filled ? "transparent" : Strata.Palette.border
    }
}
