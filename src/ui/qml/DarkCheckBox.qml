import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

CheckBox {
    id: box
    spacing: 10
    hoverEnabled: true

    indicator: Rectangle {
        x: box.leftPadding
        anchors.verticalCenter: parent.verticalCenter
        width: 20
        height: 20
        radius: 5
        color: box.checked ? Strata.Palette.teal : Strata.Palette.bg2
        border.color: box.checked ? Strata.Palette.teal : (box.hovered ? Strata.Palette.textDim : Strata.Palette.border)
        Icon {
            anchors.centerIn: parent
            width: 14
            height: 14
            name: "check"
            color: Strata.Palette.bg0
            lineWidth: 3
            visible: box.checked
        }
    }
    contentItem: Text {
        leftPadding: box.indicator.width + box.spacing
        text: box.text
        color: Strata.Palette.text
        font.pixelSize: 14
        verticalAlignment: Text.AlignVCenter
    }
}
