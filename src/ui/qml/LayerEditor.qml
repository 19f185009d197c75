import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The layers this feature level drives, with their MIDI channel; lit while they sound.
Rectangle {
    id: editor

    required property AppStateModel appState

    color: Strata.Palette.bg1

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 14

        RowLayout {
            spacing: 12
            Caption {
                text: "LAYERS"
                color: Strata.Palette.text
            }
            Caption {
                text: editor.appState.isPro ? "UP TO 16" : "UP TO 8"
                font.pixelSize: Strata.Palette.smallLabelSize
            }
        }

        Flow {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 10
            clip: true

            Repeater {
                model: editor.appState.layers
                Rectangle {
                    required property int index
                    required property var modelData
                    width: 150
                    height: 54
                    radius: 10
                    color: Strata.Palette.bg2
                    border.color: modelData.playing ? Strata.Palette.alpha(Strata.Palette.teal, 0.6) : Strata.Palette.border

                    Rectangle {
                        x: 12
                        anchors.verticalCenter: parent.verticalCenter
                        width: 12
                        height: 12
                        radius: 6
                        color: modelData.playing ? Strata.Palette.teal : Strata.Palette.bg3
                    }
                    Column {
                        x: 34
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width - 44
                        spacing: 3
                        Text {
                            width: parent.width
                            text: modelData.name
                            color: Strata.Palette.text
                            font.pixelSize: 14
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                        Caption {
                            text: "CH " + modelData.channel
                            font.pixelSize: Strata.Palette.smallLabelSize
                        }
                    }
                }
            }
        }
    }
}
