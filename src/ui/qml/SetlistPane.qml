import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The set: its name and its songs, the current one highlighted.
Rectangle {
    id: pane

    required property AppStateModel appState

    color: Strata.Palette.bg1

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 18
        spacing: 14

        Column {
            spacing: 2
            Text {
                text: "STRATA"
                color: Strata.Palette.text
                font.pixelSize: 26
                font.weight: Font.Bold
                font.letterSpacing: 5
            }
            Text {
                text: "by Korvel"
                color: Strata.Palette.textDim
                font.pixelSize: 12
                font.letterSpacing: 1
            }
        }

        Column {
            Layout.fillWidth: true
            spacing: 4
            Text {
                width: parent.width
                text: pane.appState.setName.length > 0 ? pane.appState.setName : "Set name"
                color: pane.appState.setName.length > 0 ? Strata.Palette.text : Strata.Palette.textDim
                font.pixelSize: 18
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            Caption {
                text: pane.appState.songCount + " SONGS"
                font.pixelSize: Strata.Palette.smallLabelSize
            }
        }

        ListView {
            id: songs
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 4
            model: pane.appState.songNames
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }

            delegate: Rectangle {
                required property int index
                required property string modelData
                readonly property bool current: index === pane.appState.songIndex

                width: songs.width
                height: 46
                radius: 8
                color: current ? Strata.Palette.alpha(Strata.Palette.teal, 0.12) : "transparent"
                border.color: current ? Strata.Palette.alpha(Strata.Palette.teal, 0.5) : "transparent"

                Row {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    spacing: 12
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: String(index + 1).padStart(2, "0")
                        color: current ? Strata.Palette.teal : Strata.Palette.textDim
                        font.pixelSize: 13
                        font.weight: Font.DemiBold
                        font.letterSpacing: 1
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width - 60
                        text: modelData
                        color: Strata.Palette.text
                        font.pixelSize: 15
                        font.weight: current ? Font.Bold : Font.Normal
                        elide: Text.ElideRight
                    }
                }
            }
        }
    }
}
