import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One entry of a DarkMenu; `checked` marks the current choice.
MenuItem {
    id: item

    // The key that triggers the entry, shown at its right.
    property string hint
    implicitHeight: 34
    leftPadding: 30
    rightPadding: 14

    indicator: Icon {
        x: 9
        anchors.verticalCenter: parent.verticalCenter
        width: 13
        height: 13
        name: "check"
        color: Strata.Palette.teal
        visible: item.checked
    }
    arrow: Icon {
        x: item.width - width - 10
        anchors.verticalCenter: parent.verticalCenter
        width: 11
        height: 11
        name: "chevronRight"
        color: Strata.Palette.textDim
        visible: item.subMenu !== null
    }
    contentItem: Item {
        implicitWidth: label.implicitWidth + (item.hint.length > 0 ? keyHint.implicitWidth + 24 : 0)
        implicitHeight: label.implicitHeight
        Text {
            id: label
            anchors.left: parent.left
            anchors.right: keyHint.visible ? keyHint.left : parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: item.text
            font.pixelSize: 14
            color: item.enabled ? Strata.Palette.text : Strata.Palette.textDim
            elide: Text.ElideRight
        }
        Text {
            id: keyHint
            visible: item.hint.length > 0
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: item.hint
            font.pixelSize: 13
            color: Strata.Palette.textDim
        }
    }
    background: Rectangle {
        radius: 6
        color: item.highlighted && item.enabled ? Strata.Palette.alpha(Strata.Palette.teal, 0.18) : "transparent"
    }
}
