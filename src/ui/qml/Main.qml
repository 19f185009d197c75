import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

ApplicationWindow {
    id: window

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

    title: "Strata"
    width: 1280
    height: 800
    minimumWidth: 1080
    minimumHeight: 640
    visible: true
    color: Strata.Palette.bg0

    menuBar: MenuBar {
        objectName: "menuBar"
        leftPadding: 6
        background: Rectangle {
            implicitHeight: 30
            color: Strata.Palette.bg1
        }
        delegate: MenuBarItem {
            id: barItem
            objectName: "menu_" + text
            leftPadding: 10
            rightPadding: 10
            contentItem: Text {
                text: barItem.text
                color: Strata.Palette.text
                font.pixelSize: 13
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                color: barItem.highlighted ? Strata.Palette.bg2 : "transparent"
            }
        }

        DarkMenu {
            objectName: "editMenu"
            title: "Edit"
            DarkMenuItem { action: content.editActions[0]; hint: "Ctrl+Z" }
            DarkMenuItem { action: content.editActions[1]; hint: "Ctrl+Shift+Z" }
        }

        DarkMenu {
            objectName: "sectionMenu"
            title: "Section"
            DarkMenuItem { action: content.sectionActions[0]; hint: "\u2192" }
            DarkMenuItem { action: content.sectionActions[1]; hint: "\u2190" }
            DarkMenuItem { action: content.sectionActions[2]; hint: "\u2193" }
            DarkMenuItem { action: content.sectionActions[3]; hint: "\u2191" }
            DarkMenuItem { action: content.sectionActions[4]; hint: "Ctrl+S" }
        }
    }

    ContentView {
        id: content
        objectName: "contentView"
        anchors.fill: parent
        appState: window.appState
        midi: window.midi
        cue: window.cue
        live: window.live
        shell: window.shell
        guide: window.guide
        quickStart: window.quickStart
        setlist: window.setlist
        grid: window.grid
        layerEditor: window.layerEditor
        notices: window.notices
        liveMoments: window.liveMoments
        remote: window.remote
    }
}
