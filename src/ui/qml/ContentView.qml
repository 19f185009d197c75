import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The window's content: the toolbar over either the editing layout or the stage view, the sheets,
// and the "Section" commands on their keys.
Item {
    id: root

    required property AppStateModel appState
    required property MidiModel midi
    required property CueModel cue
    required property LiveControls live
    required property ShellModel shell
    required property SetupGuideModel guide
    required property QuickStartModel quickStart
    required property SetlistModel setlist
    required property SectionGridModel grid
    required property LayerEditorModel layerEditor
    required property NoticesModel notices
    required property LiveMomentsModel liveMoments
    required property RemoteModel remote

    // The "Section" menu's commands; the window's menu bar shows the same actions.
    readonly property list<Action> sectionActions: [
        Action {
            objectName: "nextSectionAction"
            text: "Next Section"
            shortcut: "Right"
            onTriggered: root.appState.advance()
        },
        Action {
            objectName: "previousSectionAction"
            text: "Previous Section"
            shortcut: "Left"
            onTriggered: root.appState.retreat()
        },
        Action {
            objectName: "nextStepAction"
            text: "Next Step"
            shortcut: "Down"
            onTriggered: root.appState.nextStep()
        },
        Action {
            objectName: "previousStepAction"
            text: "Previous Step"
            shortcut: "Up"
            onTriggered: root.appState.prevStep()
        },
        Action {
            objectName: "toggleStageAction"
            text: "Toggle Stage Mode"
            shortcut: "Ctrl+S"
            onTriggered: root.appState.toggleStageMode()
        }
    ]

    // Undo and redo of the set, whichever view edited it. A text field being edited hands these
    // keys to the same history (EditField).
    readonly property list<Action> editActions: [
        Action {
            objectName: "undoAction"
            text: "Undo"
            shortcut: "Ctrl+Z"
            enabled: root.appState.undo.canUndo
            onTriggered: root.appState.undo.undo()
        },
        Action {
            objectName: "redoAction"
            text: "Redo"
            shortcut: "Ctrl+Shift+Z"
            enabled: root.appState.undo.canRedo
            onTriggered: root.appState.undo.redo()
        },
        Action {
            objectName: "redoAltAction"
            text: "Redo"
            shortcut: "Ctrl+Y"
            enabled: root.appState.undo.canRedo
            onTriggered: root.appState.undo.redo()
        }
    ]

    // Escape leaves a learn (the NEXT trigger's, a section chip's), whatever has the focus.
    Shortcut {
        objectName: "cancelLearningShortcut"
        sequence: "Esc"
        enabled: root.midi.learning
        onActivated: root.midi.cancelLearning()
    }

    Rectangle {
        anchors.fill: parent
        color: Strata.Palette.bg0
    }

    Toolbar {
        id: toolbar
        objectName: "toolbar"
        anchors.left: parent.left
        anchors.right: parent.right
        appState: root.appState
        midi: root.midi
        cue: root.cue
        live: root.live
        shell: root.shell
        onRemoteRequested: remoteSheet.open()
    }

    NoticeBar {
        id: noticeBar
        objectName: "noticeBar"
        anchors.top: toolbar.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        notices: root.notices
    }

    Item {
        id: body
        anchors.top: noticeBar.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom

        EditingLayout {
            objectName: "editingLayout"
            anchors.fill: parent
            visible: !root.appState.stageMode
            appState: root.appState
            midi: root.midi
            setlist: root.setlist
            grid: root.grid
            layerEditor: root.layerEditor
            allOn: root.notices.allOn
        }

        // Made the first time the performer goes on stage, not at start: the first push waits
        // for the window, and most launches begin in the editor. Once made it stays, so that
        // going on stage again is immediate.
        Loader {
            anchors.fill: parent
            visible: root.appState.stageMode
            active: root.appState.stageMode
            onLoaded: active = true
            sourceComponent: StageView {
                objectName: "stageView"
                appState: root.appState
                liveMoments: root.liveMoments
                midiAvailable: root.midi.available
                notices: root.notices
            }
        }
    }

    ModeChooser {
        id: chooser
        objectName: "modeChooser"
        appState: root.appState
        live: root.live
        shell: root.shell
        onClosed: root.shell.showModeChooser = false
    }

    SetupGuide {
        id: setupGuide
        objectName: "setupGuide"
        guide: root.guide
        onClosed: root.shell.showSetup = false
    }

    RemoteSheet {
        id: remoteSheet
        objectName: "remoteSheet"
        remote: root.remote
    }

    QuickStart {
        id: quickStartSheet
        objectName: "quickStartSheet"
        quickStart: root.quickStart
        onClosed: root.shell.showQuickStart = false
    }

    // The sheets follow the shell's flags.
    Connections {
        target: root.shell
        function onShowModeChooserChanged() { root.showSheet(chooser, root.shell.showModeChooser) }
        function onShowSetupChanged() { root.showSheet(setupGuide, root.shell.showSetup) }
        function onShowQuickStartChanged() { root.showSheet(quickStartSheet, root.shell.showQuickStart) }
    }

    function showSheet(sheet, on) {
        if (on && !sheet.opened)
            sheet.open()
        else if (!on && sheet.visible)
            sheet.close()
    }

    Component.onCompleted: {
        showSheet(chooser, shell.showModeChooser)
        showSheet(setupGuide, shell.showSetup)
        showSheet(quickStartSheet, shell.showQuickStart)
    }
}
