import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The set's layers and how each reaches the DAW: one card per layer, in track order, with the
// rules editor of a layer opening from its card.
Rectangle {
    id: editor

    required property AppStateModel appState
    required property LayerEditorModel layerEditor

    readonly property int layerCount: layerEditor.layers.count

    color: Strata.Palette.bg1

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 10
        anchors.bottomMargin: 6
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Caption {
                text: "LAYERS"
                color: Strata.Palette.text
                font.weight: Font.Bold
            }
            Caption {
                objectName: "layerCount"
                text: editor.layerCount + " / " + editor.layerEditor.layerCap
                font.pixelSize: Strata.Palette.smallLabelSize
            }
            ToolbarButton {
                objectName: "addLayerButton"
                visible: editor.layerEditor.canAddLayer
                iconName: "plus"
                implicitHeight: 26
                help: "Add a layer"
                onClicked: editor.layerEditor.addLayer()
            }
            ToolbarButton {
                objectName: "useDawNamesButton"
                visible: editor.layerEditor.canUseDawNames
                implicitHeight: 26
                text: "USE DAW NAMES"
                accent: Strata.Palette.teal
                help: "Replace layer names with the abbreviated names read from your DAW"
                onClicked: editor.layerEditor.useDawNames()
            }
            Text {
                objectName: "modeHint"
                Layout.fillWidth: true
                Layout.leftMargin: 8
                text: editor.layerEditor.modeHint
                color: Strata.Palette.textDim
                font.pixelSize: 12
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }
        }

        ListView {
            id: cards
            objectName: "layerCards"
            Layout.fillWidth: true
            Layout.fillHeight: true
            orientation: ListView.Horizontal
            spacing: 10
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            // Row by row: a card re-reads only the roles of its own layer that changed.
            model: editor.layerEditor.layers
            ScrollBar.horizontal: ScrollBar {
                policy: ScrollBar.AsNeeded
            }
            delegate: LayerRow {
                required property int index
                required property var model
                objectName: "layerRow_" + index
                height: cards.height - 12
                layerEditor: editor.layerEditor
                layerIndex: index
                layerData: model
            }

            Text {
                anchors.centerIn: parent
                visible: cards.count === 0
                text: "No layers yet \u2014 add one with +."
                color: Strata.Palette.textDim
                font.pixelSize: 14
            }
        }
    }

    LayerRulesEditor {
        objectName: "rulesEditor"
        editor: editor.layerEditor.rulesEditor
    }
}
