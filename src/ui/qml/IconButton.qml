import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A small square button that is only a symbol (delete, remove, add).
AbstractButton {
    id: control

    property string iconName
    property color accent: Strata.Palette.textDim
    property color hoverAccent: Strata.Palette.text
    property alias help: tip.text

    implicitWidth: 26
    implicitHeight: 26
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            width: 15
            height: 15
            name: control.iconName
            color: control.hovered ? control.hoverAccent : control.accent
        }
    }
    background: Rectangle {
        radius: 6
        color: control.down ? Strata.Palette.bg3 : control.hovered ? Strata.Palette.bg2 : "transparent"
        border.color: control.hovered ? Strata.Palette.border : "transparent"
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: control.hovered
    }
}
