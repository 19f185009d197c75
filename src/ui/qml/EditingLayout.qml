import QtQuick
import QtQuick.Layouts
import Strata.Ui
import Strata.Ui as Strata

// Stage mode off: the set on the left, the current song's sections above its layers.
Rectangle {
    id: layout

    required property AppStateModel appState
    required property MidiModel midi
    required property SetlistModel setlist
    required property SectionGridModel grid
    required property LayerEditorModel layerEditor
    // ALL ON holds the DAW: the grid shows that every layer sounds.
    property bool allOn: false

    color: Strata.Palette.bg0

    RowLayout {
        anchors.fill: parent
        spacing: 0

        SetlistPane {
            objectName: "setlistPane"
            appState: layout.appState
            setlist: layout.setlist
            Layout.preferredWidth: 260
            Layout.fillHeight: true
        }

        Rectangle {
            objectName: "paneDivider"
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            color: Strata.Palette.border
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            SectionGrid {
                objectName: "sectionGrid"
                appState: layout.appState
                gridModel: layout.grid
                allOn: layout.allOn
                Layout.fillWidth: true
                Layout.fillHeight: true
            }
            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Strata.Palette.border
            }
            LayerEditor {
                objectName: "layerEditor"
                appState: layout.appState
                layerEditor: layout.layerEditor
                Layout.fillWidth: true
                Layout.preferredHeight: 190
            }
        }
    }
}
