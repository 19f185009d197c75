import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The current song's sections, in order; the current one is marked.
Rectangle {
    id: grid

    required property AppStateModel appState

    color: Strata.Palette.bg0

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 22
        spacing: 16

        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            Text {
                Layout.fillWidth: true
                text: grid.appState.songName.length > 0 ? grid.appState.songName : "Song name"
                color: grid.appState.songName.length > 0 ? Strata.Palette.text : Strata.Palette.textDim
                font.pixelSize: 26
                font.weight: Font.Bold
                elide: Text.ElideRight
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
        }

        ListView {
            id: sections
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 8
            model: grid.appState.sections
            boundsBehavior: Flickable.StopAtBounds
            visible: count > 0
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }

            delegate: Rectangle {
                required property int index
                required property var modelData
                readonly property bool current: index === grid.appState.sectionIndex

                width: sections.width
                height: 58
                radius: 10
                color: current ? Strata.Palette.alpha(Strata.Palette.teal, 0.10) : Strata.Palette.bg1
                border.color: current ? Strata.Palette.teal : Strata.Palette.border

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 16
                    anchors.rightMargin: 16
                    spacing: 14
                    Caption {
                        text: "SECTION"
                        font.pixelSize: Strata.Palette.smallLabelSize
                    }
                    Text {
                        Layout.fillWidth: true
                        text: modelData.name
                        color: Strata.Palette.text
                        font.pixelSize: 18
                        font.weight: current ? Font.Bold : Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Caption {
                        visible: grid.appState.isPro
                        text: modelData.steps === 1 ? "1 STEP" : modelData.steps + " STEPS"
                        font.pixelSize: Strata.Palette.smallLabelSize
                    }
                    Caption {
                        visible: current
                        text: "NOW"
                        color: Strata.Palette.teal
                    }
                }
            }
        }

        Column {
            visible: sections.count === 0
            Layout.alignment: Qt.AlignCenter
            Layout.fillHeight: true
            spacing: 12
            Icon {
                name: "pedal"
                color: Strata.Palette.textDim
                width: 40
                height: 40
                anchors.horizontalCenter: parent.horizontalCenter
            }
            Text {
                text: "No sections in this song yet."
                color: Strata.Palette.textDim
                font.pixelSize: 15
            }
        }
    }
}
