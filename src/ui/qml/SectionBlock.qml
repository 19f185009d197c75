import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One section of the current song: its name, jump trigger and Moments, then one row per step.
Rectangle {
    id: block

    required property SectionGridModel gridModel
    property int sectionIndex
    // The section as the grid model shows it.
    property var section: ({})
    property bool isCurrent: false
    // ALL ON holds the DAW (the current section only).
    property bool allOn: false
    property int currentStep: -1
    property real cellWidth: 48
    property real gutterWidth: 130
    readonly property int rowCount: section.rows !== undefined ? section.rows.length : 0

    signal rowMenuRequested(int step, Item row, real x, real y)

    implicitHeight: content.implicitHeight + 12
    radius: 10
    color: Strata.Palette.bg1
    border.color: isCurrent ? Strata.Palette.alpha(Strata.Palette.teal, 0.65) : Strata.Palette.border
    border.width: isCurrent ? 2 : 1

    Column {
        id: content
        x: 6
        y: 4
        width: parent.width - 12
        spacing: 0

        RowLayout {
            width: parent.width
            height: 38
            spacing: 8

            Caption {
                Layout.leftMargin: 8
                text: "SECTION"
                font.pixelSize: Strata.Palette.smallLabelSize
                color: block.isCurrent ? Strata.Palette.teal : Strata.Palette.textDim
            }
            InlineField {
                objectName: "sectionName"
                Layout.preferredWidth: 230
                value: block.section.name !== undefined ? block.section.name : ""
                placeholderText: "Section name"
                fontSize: 16
                bold: true
                onEdited: text => block.gridModel.renameSection(block.sectionIndex, text)
            }
            JumpTriggerChip {
                objectName: "jumpChip"
                gridModel: block.gridModel
                sectionIndex: block.sectionIndex
                hasTrigger: block.section.hasJumpTrigger === true
                listening: block.section.listening === true
                connected: block.section.jumpConnected === true
                triggerText: block.section.jumpText !== undefined ? block.section.jumpText : ""
                help: block.section.jumpHelp !== undefined ? block.section.jumpHelp : ""
                Layout.maximumWidth: 300
            }
            Chip {
                id: momentsChip
                objectName: "momentsChip"
                readonly property int count: block.section.momentCount !== undefined ? block.section.momentCount : 0
                text: "MOMENTS"
                iconName: "wand"
                accent: count > 0 ? Strata.Palette.gold : Strata.Palette.textDim
                outlined: count > 0
                onClicked: block.gridModel.editMoments(block.sectionIndex)

                Rectangle {
                    objectName: "momentCount"
                    visible: momentsChip.count > 0
                    width: Math.max(18, countText.implicitWidth + 8)
                    height: 16
                    radius: 8
                    color: Strata.Palette.gold
                    Text {
                        id: countText
                        anchors.centerIn: parent
                        text: momentsChip.count
                        color: Strata.Palette.bg0
                        font.pixelSize: 11
                        font.weight: Font.Bold
                    }
                }
            }
            Item {
                Layout.fillWidth: true
            }
            Chip {
                objectName: "allOnTag"
                visible: block.allOn
                text: "ALL ON"
                iconName: "speaker"
                accent: Strata.Palette.gold
                outlined: true
                help: "ALL ON: every layer sounds in the DAW. The next change (a section, a step, an edit) puts this section's mix back."
            }
            Caption {
                Layout.rightMargin: 10
                visible: block.isCurrent
                text: "NOW"
                color: Strata.Palette.teal
                font.weight: Font.Bold
            }
        }

        Repeater {
            model: block.rowCount
            StepRow {
                id: stepRow
                required property int index
                objectName: "row_" + block.sectionIndex + "_" + index
                width: content.width
                gridModel: block.gridModel
                sectionIndex: block.sectionIndex
                stepIndex: index
                step: block.section.rows[index] !== undefined ? block.section.rows[index] : ({})
                isCurrent: block.isCurrent && index === block.currentStep
                allOn: block.allOn && isCurrent
                showBadge: block.gridModel.isPro
                cellWidth: block.cellWidth
                gutterWidth: block.gutterWidth
                onMenuRequested: (x, y) => block.rowMenuRequested(index, stepRow, x, y)
            }
        }
    }
}
