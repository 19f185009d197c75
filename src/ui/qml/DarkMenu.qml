import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A drop-down menu in the window's colours.
Menu {
    id: menu
    padding: 6
    implicitWidth: 260
    delegate: DarkMenuItem {}

    background: Rectangle {
        implicitWidth: menu.implicitWidth
        color: Strata.Palette.bg2
        border.color: Strata.Palette.border
        radius: 9
    }
}
