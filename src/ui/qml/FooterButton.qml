import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A plain button with a symbol and a label, as at the foot of the setlist pane: no frame until the
// pointer rests on it. It never takes the keyboard, so the arrow keys keep moving through the set.
AbstractButton {
    id: control

    property string iconName
    property color accent: Strata.Palette.textDim
    property alias help: tip.text

    implicitHeight: 30
    implicitWidth: leftPadding + rightPadding + row.implicitWidth
    leftPadding: 7
    rightPadding: 7
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            Icon {
                width: 14
                height: 14
                anchors.verticalCenter: parent.verticalCenter
                name: control.iconName
                lineWidth: 1.8
                color: control.hovered ? Strata.Palette.text : control.accent
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: control.text
                font.pixelSize: 12
                font.weight: Font.DemiBold
                color: control.hovered ? Strata.Palette.text : control.accent
            }
        }
    }

    background: Rectangle {
        radius: 6
        color: control.down ? Strata.Palette.bg3 : control.hovered ? Strata.Palette.bg2 : "transparent"
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: control.hovered
    }
}
