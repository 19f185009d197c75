import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A caption that groups the entries below it in a DarkMenu.
MenuItem {
    enabled: false
    implicitHeight: 28
    leftPadding: 12
    contentItem: Caption {
        text: parent.text
        font.pixelSize: Strata.Palette.smallLabelSize
        color: Strata.Palette.textDim
    }
    background: Item {}
}
