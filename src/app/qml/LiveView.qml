import QtQuick

// The interim live view: where the performer is, what comes next, and which layers are muted.
Rectangle {
    id: view

    required property var shell
    required property var live

    readonly property color bg0: "#0B0B0E"
    readonly property color bg1: "#111114"
    readonly property color bg3: "#222228"
    readonly property color border: "#2A2A32"
    readonly property color text: "#F5F5F7"
    readonly property color textDim: "#9C9CA6"
    readonly property color teal: "#00C9A7"
    readonly property color gold: "#E8A84C"
    readonly property color red: "#FF4444"

    color: bg0

    // Status line: set, level, cue link, MIDI.
    Row {
        id: status
        anchors { top: parent.top; left: parent.left; right: parent.right; margins: 24 }
        spacing: 24

        Text {
            text: view.live.setName.toUpperCase()
            color: view.textDim
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
        Text {
            text: view.live.pro ? "PRO" : "ESSENTIALS"
            color: view.live.pro ? view.gold : view.teal
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
        Text {
            text: view.live.cueLabel
            color: view.live.cueLabel === "CUE \u00B7 OFFLINE" ? view.textDim : view.teal
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
        Text {
            text: view.shell.midiAvailable ? "MIDI \u00B7 " + view.shell.midiSystem.toUpperCase()
                                           : "MIDI UNAVAILABLE"
            color: view.shell.midiAvailable ? view.textDim : view.red
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
        Text {
            visible: view.live.stageMode
            text: "STAGE"
            color: view.gold
            font.pixelSize: 13
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
    }

    Column {
        anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter
                  margins: 48 }
        spacing: 18

        Text {
            text: view.live.songName
            color: view.textDim
            font.pixelSize: 28
            elide: Text.ElideRight
            width: parent.width
        }
        Text {
            text: "NOW"
            color: view.teal
            font.pixelSize: 14
            font.weight: Font.DemiBold
            font.letterSpacing: 3
        }
        Text {
            text: view.live.sectionName
            color: view.text
            font.pixelSize: view.live.stageMode ? 120 : 84
            font.weight: Font.Bold
            elide: Text.ElideRight
            width: parent.width
        }
        Text {
            visible: view.live.stepLabel !== ""
            text: view.live.stepLabel
            color: view.gold
            font.pixelSize: 22
            font.weight: Font.DemiBold
            font.letterSpacing: 2
        }
        Row {
            spacing: 12
            Text {
                text: "NEXT"
                color: view.textDim
                font.pixelSize: 14
                font.weight: Font.DemiBold
                font.letterSpacing: 3
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: view.live.nextSectionName
                color: view.textDim
                font.pixelSize: 28
            }
        }

        // One pill per driven layer: lit when it sounds, dark when muted.
        Flow {
            width: parent.width
            spacing: 10
            Repeater {
                model: view.live.layers
                delegate: Rectangle {
                    required property string modelData
                    readonly property bool muted: view.live.mutedLayers.indexOf(modelData) >= 0
                    width: label.implicitWidth + 28
                    height: 36
                    radius: 18
                    color: muted ? view.bg1 : view.teal
                    border.color: muted ? view.border : view.teal
                    Text {
                        id: label
                        anchors.centerIn: parent
                        text: parent.modelData
                        color: parent.muted ? view.textDim : view.bg0
                        font.pixelSize: 15
                        font.weight: Font.DemiBold
                        font.strikeout: parent.muted
                    }
                }
            }
        }
        Text {
            visible: view.live.momentActive
            text: "MOMENT"
            color: view.gold
            font.pixelSize: 14
            font.weight: Font.DemiBold
            font.letterSpacing: 3
        }
    }

    Text {
        anchors { bottom: parent.bottom; left: parent.left; margins: 24 }
        text: "\u2190 \u2192 SECTION    \u2191 \u2193 STEP    CTRL+S STAGE"
        color: view.textDim
        font.pixelSize: 11
        font.letterSpacing: 2
    }
}
