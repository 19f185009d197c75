import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One layer in one step: a large lit dot while the layer plays, a dark one while it is muted, so
// that the pattern reads from across a stage. A click flips it. While ALL ON holds the DAW, a layer
// the step mutes sounds anyway: its dot is lit in gold.
AbstractButton {
    id: cell

    property bool isOn: false
    property bool isCurrent: false
    property bool forcedOn: false
    readonly property bool sounding: isOn || forcedOn
    readonly property color lit: isOn ? Strata.Palette.teal : Strata.Palette.gold
    property string layerName

    implicitWidth: 48
    implicitHeight: 40
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Item {
        Rectangle {
            id: dot
            objectName: "dot"
            anchors.centerIn: parent
            width: cell.isCurrent ? 24 : 22
            height: width
            radius: width / 2
            color: cell.sounding ? cell.lit : Strata.Palette.bg3
            border.width: cell.hovered ? 2 : cell.sounding ? 0 : 1
            border.color: cell.hovered ? Strata.Palette.text
                        : cell.sounding ? cell.lit : Qt.lighter(Strata.Palette.bg3, 1.5)
        }
        // A soft halo around a lit dot in the current row.
        Rectangle {
            anchors.centerIn: dot
            width: dot.width + 10
            height: width
            radius: width / 2
            color: "transparent"
            border.width: 3
            border.color: Strata.Palette.alpha(cell.lit, 0.28)
            visible: cell.sounding && cell.isCurrent
        }
    }
    background: Item {}
}
