import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

MenuSeparator {
    topPadding: 4
    bottomPadding: 4
    contentItem: Rectangle {
        implicitHeight: 1
        color: Strata.Palette.border
    }
}
