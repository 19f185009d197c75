import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A small rounded control for the things a section carries (jump trigger, Moments) and for the
// choices of the editors: filled with its accent when `selected`, outlined when `outlined`.
AbstractButton {
    id: chip

    property string iconName
    property color accent: Strata.Palette.textDim
    property bool selected: false
    property bool outlined: false
    property int fontSize: 11
    property alias help: tip.text
    // Extra content after the label (a count bubble, say).
    default property alias trailing: extra.data

    // A right-click, for a chip that has a menu.
    signal menuRequested()

    implicitHeight: 24
    implicitWidth: row.implicitWidth + 2 * 10
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            Icon {
                name: chip.iconName
                visible: chip.iconName.length > 0
                color: label.color
                width: 13
                height: 13
                anchors.verticalCenter: parent.verticalCenter
            }
            Caption {
                id: label
                objectName: "label"
                text: chip.text
                font.pixelSize: chip.fontSize
                font.letterSpacing: 0.6
                color: chip.selected ? Strata.Palette.bg0 : chip.hovered ? Strata.Palette.text : chip.accent
                anchors.verticalCenter: parent.verticalCenter
            }
            Row {
                id: extra
                spacing: 4
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        radius: height / 2
        color: chip.selected ? chip.accent
             : chip.down ? Strata.Palette.bg3
             : chip.hovered ? Qt.lighter(Strata.Palette.bg2, 1.35) : Strata.Palette.bg2
        border.color: chip.selected ? chip.accent
                    : chip.outlined ? Strata.Palette.alpha(chip.accent, 0.75) : Strata.Palette.border
    }

    // Takes right presses for itself (a right-click is not also a click of the chip); left presses
    // and hovering go through to the chip.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        onClicked: chip.menuRequested()
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: chip.hovered
    }
}
