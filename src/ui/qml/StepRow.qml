import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One step of a section: its number, its badge and one cell per visible layer. A click on the row
// makes the step current; a right-click asks for the row's menu.
Rectangle {
    id: row

    required property SectionGridModel gridModel
    property int sectionIndex
    property int stepIndex
    // The step as the grid model shows it.
    property var step: ({})
    property bool isCurrent: false
    // ALL ON holds the DAW: every layer of this row sounds, whatever the step says.
    property bool allOn: false
    property bool showBadge: true
    property real cellWidth: 48
    property real gutterWidth: 130

    signal menuRequested(real x, real y)

    implicitHeight: 40
    radius: 7
    color: isCurrent ? Strata.Palette.alpha(Strata.Palette.teal, 0.13)
         : area.containsMouse ? Strata.Palette.alpha(Strata.Palette.text, 0.035) : "transparent"

    MouseArea {
        id: area
        objectName: "rowArea"
        anchors.fill: parent
        hoverEnabled: true
        onClicked: row.gridModel.selectRow(row.sectionIndex, row.stepIndex)
    }
    // Over the badge and the cells, which would take a right-click for a click: anywhere on the row
    // it opens the menu. Left presses go through.
    MouseArea {
        objectName: "rowMenuArea"
        anchors.fill: parent
        z: 1
        acceptedButtons: Qt.RightButton
        onClicked: mouse => row.menuRequested(mouse.x, mouse.y)
    }

    // The current row's marker along its left edge.
    Rectangle {
        visible: row.isCurrent
        x: 0
        width: 4
        height: parent.height - 10
        anchors.verticalCenter: parent.verticalCenter
        radius: 2
        color: Strata.Palette.teal
    }

    Text {
        objectName: "stepNumber"
        x: 12
        width: 26
        anchors.verticalCenter: parent.verticalCenter
        text: row.step.number !== undefined ? row.step.number : ""
        color: row.isCurrent ? Strata.Palette.text : Strata.Palette.textDim
        font.pixelSize: 13
        font.weight: Font.Bold
        font.family: "monospace"
    }

    StepBadge {
        objectName: "stepBadge"
        x: 40
        anchors.verticalCenter: parent.verticalCenter
        visible: row.showBadge
        text: row.step.badge !== undefined ? row.step.badge : ""
        help: row.step.badgeHelp !== undefined ? row.step.badgeHelp : ""
        clickable: row.step.badgeClickable === true
        momentary: row.step.momentary === true
        onClicked: row.gridModel.cycleBadge(row.sectionIndex, row.stepIndex)
    }

    Row {
        x: row.gutterWidth
        height: parent.height
        Repeater {
            model: row.step.cells !== undefined ? row.step.cells.length : 0
            LayerCell {
                required property int index
                objectName: "cell_" + index
                width: row.cellWidth
                height: row.height
                isOn: row.step.cells[index] === true
                isCurrent: row.isCurrent
                forcedOn: row.allOn
                onClicked: row.gridModel.toggleCell(row.sectionIndex, row.stepIndex, index)
            }
        }
    }
}
