import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The current song: its name and the navigation buttons, then one block per section with a row
// per step and a column per visible layer. The Moments editor opens from a section's chip.
Rectangle {
    id: grid

    required property AppStateModel appState
    required property SectionGridModel gridModel
    // ALL ON holds the DAW: the current step shows every layer sounding.
    property bool allOn: false

    readonly property int sectionCount: gridModel.sections.count
    readonly property int columnCount: gridModel.columns.count
    // Left of the cells: the step number and its badge.
    readonly property real gutterWidth: 136
    // Cells share what is left; they neither crowd nor spread out thinly.
    readonly property real cellWidth: Math.max(36, Math.min(92,
        Math.floor((body.width - 12 - gutterWidth) / Math.max(1, columnCount))))

    color: Strata.Palette.bg0

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        anchors.bottomMargin: 8
        spacing: 10

        // ---- Header ----
        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            InlineField {
                objectName: "songName"
                Layout.fillWidth: true
                Layout.minimumWidth: 160
                value: grid.gridModel.songName
                placeholderText: "Song name"
                fontSize: 24
                bold: true
                enabled: grid.gridModel.hasSong
                onEdited: text => grid.gridModel.renameSong(text)
            }

            RowLayout {
                objectName: "stepButtons"
                visible: grid.gridModel.isPro && grid.gridModel.currentStepCount >= 2
                spacing: 4
                ToolbarButton {
                    objectName: "prevStepButton"
                    iconName: "chevronUp"
                    help: "Previous step"
                    onClicked: grid.appState.prevStep()
                }
                Caption {
                    objectName: "stepPosition"
                    text: "STEP " + (grid.gridModel.currentStep + 1) + "/" + grid.gridModel.currentStepCount
                    color: Strata.Palette.gold
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                ToolbarButton {
                    objectName: "nextStepButton"
                    iconName: "chevronDown"
                    help: "Next step"
                    onClicked: grid.appState.nextStep()
                }
            }
            ToolbarButton {
                objectName: "addStepButton"
                visible: grid.gridModel.isPro
                text: "+ STEP"
                accent: Strata.Palette.gold
                enabled: grid.gridModel.currentSection >= 0
                onClicked: grid.gridModel.addStepToCurrentSection()
            }
            ToolbarButton {
                objectName: "prevButton"
                text: "PREV"
                iconName: "chevronLeft"
                onClicked: grid.appState.retreat()
            }
            ToolbarButton {
                objectName: "nextButton"
                text: "NEXT"
                iconName: "chevronRight"
                accent: Strata.Palette.teal
                outlined: true
                onClicked: grid.appState.advance()
            }
            ToolbarButton {
                objectName: "addSectionButton"
                text: "+ SEC"
                enabled: grid.gridModel.hasSong
                onClicked: grid.gridModel.addSection()
            }
        }

        // ---- Column headers, over the cells of every block ----
        Row {
            objectName: "columnHeaders"
            Layout.fillWidth: true
            Layout.leftMargin: 6 + grid.gutterWidth
            visible: grid.sectionCount > 0
            Repeater {
                model: grid.gridModel.columns
                LayerHeader {
                    required property int index
                    required property var model
                    objectName: "header_" + index
                    width: grid.cellWidth
                    name: model.name
                    channel: model.channel
                }
            }
        }

        // ---- Sections ----
        // A view, not a column of every block: a long song makes blocks only for what is on
        // screen and a little around it, so that its size costs neither memory nor start-up time.
        ListView {
            id: body
            objectName: "sectionsView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: grid.sectionCount > 0
            clip: true
            spacing: 10
            // About two blocks either side: a short scroll shows blocks already made.
            cacheBuffer: 200
            boundsBehavior: Flickable.StopAtBounds
            // The arrow keys belong to the set's navigation, never to the view; the grid shows
            // the current section itself, so the view keeps no current item of its own.
            keyNavigationEnabled: false
            highlightFollowsCurrentItem: false
            currentIndex: -1
            // Row by row: a block re-reads only the roles of its own section that changed.
            model: grid.gridModel.sections
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }

            delegate: SectionBlock {
                required property int index
                required property var model
                objectName: "section_" + index
                width: body.width - 10
                gridModel: grid.gridModel
                sectionIndex: index
                section: model
                isCurrent: index === grid.gridModel.currentSection
                allOn: grid.allOn && isCurrent
                currentStep: grid.gridModel.currentStep
                cellWidth: grid.cellWidth
                gutterWidth: grid.gutterWidth
                onRowMenuRequested: (step, row, x, y) => grid.openRowMenu(index, step, row, x, y)
            }
        }

        // ---- Nothing to show ----
        Item {
            objectName: "emptyState"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: grid.sectionCount === 0

            Column {
                anchors.centerIn: parent
                spacing: 12
                Icon {
                    name: "pedal"
                    color: Strata.Palette.textDim
                    width: 48
                    height: 48
                    anchors.horizontalCenter: parent.horizontalCenter
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: grid.gridModel.hasSong ? "No sections yet" : "No song selected"
                    color: Strata.Palette.text
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: grid.gridModel.hasSong ? "Add one with + SEC." : "Pick or add a song in the setlist."
                    color: Strata.Palette.textDim
                    font.pixelSize: 14
                }
            }
        }
    }

    // Keeps the current section in view when the performer moves on.
    property int revealedSection: -1
    Connections {
        target: grid.gridModel
        function onPositionChanged() {
            if (grid.gridModel.currentSection !== grid.revealedSection) {
                grid.revealedSection = grid.gridModel.currentSection
                Qt.callLater(grid.revealCurrent)
            }
        }
    }
    Component.onCompleted: {
        revealedSection = gridModel.currentSection
        Qt.callLater(revealCurrent)
    }
    // The view makes the block first when it is not there yet, and scrolls no further than it
    // must: a block already in sight stays where it is.
    function revealCurrent() {
        const section = gridModel.currentSection
        if (section >= 0 && section < body.count)
            body.positionViewAtIndex(section, ListView.Contain)
    }

    // ---- The row menu ----
    property int menuSection: -1
    property int menuStep: -1
    // The section's live row in the model, so that the menu follows its edits.
    // The menu opens from a block on screen, and stays open over it, so the block is there.
    readonly property var menuData: menuSection >= 0 && menuSection < sectionCount
                                    && body.itemAtIndex(menuSection)
                                    ? body.itemAtIndex(menuSection).section : null
    readonly property var menuRow: menuData && menuStep >= 0 && menuStep < menuData.rows.length
                                   ? menuData.rows[menuStep] : null

    function openRowMenu(section, step, row, x, y) {
        menuSection = section
        menuStep = step
        rowMenu.popup(row, x, y)
    }

    DarkMenu {
        id: rowMenu
        objectName: "rowMenu"
        implicitWidth: 270

        DarkMenuItem {
            objectName: "addStepBelowItem"
            text: "Add Step Below"
            visible: grid.gridModel.isPro
            height: visible ? implicitHeight : 0
            onTriggered: grid.gridModel.addStep(grid.menuSection)
        }
        DarkMenuItem {
            objectName: "momentaryItem"
            text: grid.menuRow && grid.menuRow.momentary ? "\u2713 Momentary (returns to main)"
                                                         : "Momentary (return to main)"
            visible: grid.gridModel.isPro && grid.menuRow !== null && grid.menuRow.canMomentary
            height: visible ? implicitHeight : 0
            onTriggered: grid.gridModel.toggleMomentary(grid.menuSection, grid.menuStep)
        }
        DarkMenuItem {
            objectName: "deleteStepItem"
            text: "Delete This Step"
            visible: grid.gridModel.isPro
            height: visible ? implicitHeight : 0
            enabled: grid.menuData !== null && grid.menuData.stepCount > 1
            onTriggered: grid.gridModel.deleteStep(grid.menuSection, grid.menuStep)
        }
        MenuDivider {
            visible: grid.gridModel.isPro
            height: visible ? implicitHeight : 0
        }
        DarkMenuItem {
            objectName: "duplicateSectionItem"
            text: "Duplicate Section"
            onTriggered: grid.gridModel.duplicateSection(grid.menuSection)
        }
        DarkMenuItem {
            objectName: "moveSectionUpItem"
            text: "Move Section Up"
            enabled: grid.menuSection > 0
            onTriggered: grid.gridModel.moveSectionUp(grid.menuSection)
        }
        DarkMenuItem {
            objectName: "moveSectionDownItem"
            text: "Move Section Down"
            enabled: grid.menuSection >= 0 && grid.menuSection < grid.sectionCount - 1
            onTriggered: grid.gridModel.moveSectionDown(grid.menuSection)
        }
        DarkMenuItem {
            objectName: "deleteSectionItem"
            text: "Delete Section"
            onTriggered: grid.gridModel.deleteSection(grid.menuSection)
        }
    }

    MomentsEditor {
        id: momentsSheet
        objectName: "momentsEditor"
        editor: grid.gridModel.momentsEditor
    }
}
