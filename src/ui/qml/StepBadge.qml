import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// How a step is left: "hold", "4 bars →", or "4 bars ↩" for a momentary step. A click moves the
// bar count on (none, 2, 4, 8); the last step of a section holds and does not change.
AbstractButton {
    id: badge

    property bool clickable: true
    property bool momentary: false
    property alias help: tip.text
    readonly property bool timed: text !== "hold"

    implicitWidth: 82
    implicitHeight: 24
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Text {
        objectName: "badgeText"
        text: badge.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: 12
        font.weight: badge.timed ? Font.Bold : Font.DemiBold
        color: badge.timed ? (badge.momentary ? Strata.Palette.gold : Strata.Palette.teal)
                           : Strata.Palette.textDim
    }
    background: Rectangle {
        radius: 6
        color: badge.clickable && badge.hovered ? Strata.Palette.bg3 : Strata.Palette.bg2
        border.color: badge.timed ? Strata.Palette.alpha(badge.momentary ? Strata.Palette.gold : Strata.Palette.teal, 0.5)
                                  : Strata.Palette.border
        border.width: 1
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: badge.hovered
    }
}
