import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One layer: its name and, by control mode, the Mackie track it drives (with the DAW's name for
// it) or the port, channel and CC of its mute. RULES opens its rules; the trash deletes it.
Rectangle {
    id: row

    required property LayerEditorModel layerEditor
    property int layerIndex
    // The layer as the layer editor model shows it.
    property var layerData: ({})
    readonly property string layerID: layerData.id !== undefined ? layerData.id : ""
    readonly property bool driven: layerData.driven === true

    implicitWidth: 226
    radius: 10
    color: Strata.Palette.bg2
    border.color: Strata.Palette.border

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 6
        opacity: row.driven ? 1 : 0.55

        RowLayout {
            Layout.fillWidth: true
            spacing: 4
            Rectangle {
                width: 20
                height: 20
                radius: 10
                color: Strata.Palette.bg3
                Text {
                    anchors.centerIn: parent
                    text: row.layerIndex + 1
                    color: Strata.Palette.textDim
                    font.pixelSize: 11
                    font.weight: Font.Bold
                }
            }
            InlineField {
                objectName: "layerName"
                Layout.fillWidth: true
                value: row.layerData.name !== undefined ? row.layerData.name : ""
                placeholderText: "Layer name"
                fontSize: 14
                onEdited: text => row.layerEditor.setName(row.layerID, text)
            }
            IconButton {
                objectName: "deleteLayerButton"
                iconName: "trash"
                hoverAccent: Strata.Palette.red
                help: "Delete this layer"
                onClicked: row.layerEditor.deleteLayer(row.layerID)
            }
        }

        // ---- Mackie Control: the track it drives and what the DAW calls it ----
        RowLayout {
            visible: row.layerEditor.mackieMode
            Layout.fillWidth: true
            spacing: 8
            Chip {
                objectName: "trackChip"
                visible: text.length > 0
                text: row.layerData.track !== undefined ? row.layerData.track : ""
                accent: Strata.Palette.teal
                outlined: true
                help: row.layerData.trackHelp !== undefined ? row.layerData.trackHelp : ""
            }
            Caption {
                objectName: "notDriven"
                visible: !row.driven
                text: row.layerIndex < 16 ? "PRO ONLY" : "NOT DRIVEN"
                font.pixelSize: Strata.Palette.smallLabelSize
                color: Strata.Palette.gold
            }
            Item {
                Layout.fillWidth: true
            }
        }
        Text {
            objectName: "dawLine"
            visible: row.layerEditor.mackieMode && text.length > 0
            Layout.fillWidth: true
            text: row.layerData.dawLine !== undefined ? row.layerData.dawLine : ""
            color: text.startsWith("DAW: ") ? Strata.Palette.text : Strata.Palette.textDim
            font.pixelSize: 12
            font.italic: !text.startsWith("DAW: ")
            elide: Text.ElideRight
        }

        // ---- CC Mute: where its mute goes ----
        PortPicker {
            objectName: "layerPort"
            visible: !row.layerEditor.mackieMode
            Layout.fillWidth: true
            ports: row.layerEditor.ports
            port: row.layerData.port !== undefined ? row.layerData.port : ""
            onPicked: port => row.layerEditor.setPort(row.layerID, port)
        }
        RowLayout {
            visible: !row.layerEditor.mackieMode
            Layout.fillWidth: true
            spacing: 8
            NumberField {
                objectName: "layerChannel"
                label: "CH"
                from: 1
                to: 16
                fieldWidth: 36
                value: row.layerData.channel !== undefined ? row.layerData.channel : 1
                onEdited: value => row.layerEditor.setChannel(row.layerID, value)
            }
            NumberField {
                objectName: "layerCC"
                label: "CC"
                optional: true
                fieldWidth: 40
                value: row.layerData.muteCC !== undefined ? row.layerData.muteCC : -1
                onEdited: value => row.layerEditor.setMuteCC(row.layerID, value)
            }
            Caption {
                visible: !row.driven
                text: row.layerIndex < 16 ? "PRO ONLY" : "NOT DRIVEN"
                font.pixelSize: Strata.Palette.smallLabelSize
                color: Strata.Palette.gold
            }
        }

        Item {
            Layout.fillHeight: true
        }

        ToolbarButton {
            objectName: "rulesButton"
            visible: row.layerEditor.rulesEnabled
            Layout.alignment: Qt.AlignLeft
            implicitHeight: 24
            iconName: "repeat"
            text: row.layerData.ruleCount > 0 ? "RULES " + row.layerData.ruleCount : "RULES"
            accent: row.layerData.ruleCount > 0 ? Strata.Palette.gold : Strata.Palette.textDim
            onClicked: row.layerEditor.rulesEditor.openFor(row.layerID)
        }
    }
}
