import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A row of mutually exclusive segments; the current one is filled with its accent.
Rectangle {
    id: root

    property var labels: []
    // One accent per segment (the last one repeats).
    property var accents: [Strata.Palette.teal]
    property int currentIndex: 0
    property int segmentPadding: 14
    property int fontSize: Strata.Palette.labelSize
    property alias help: tip.text
    readonly property bool hovered: hover.hovered

    signal activated(int index)

    implicitHeight: 32
    implicitWidth: segments.implicitWidth + 6
    radius: 8
    color: Strata.Palette.bg2
    border.color: Strata.Palette.border

    HoverHandler {
        id: hover
    }

    Row {
        id: segments
        anchors.centerIn: parent
        spacing: 2

        Repeater {
            model: root.labels

            AbstractButton {
                id: segment
                required property int index
                required property string modelData
                readonly property bool current: index === root.currentIndex
                readonly property color accent: root.accents[Math.min(index, root.accents.length - 1)]

                objectName: "segment_" + modelData
                text: modelData
                implicitHeight: root.height - 6
                implicitWidth: caption.implicitWidth + 2 * root.segmentPadding
                hoverEnabled: true
                focusPolicy: Qt.NoFocus
                onClicked: root.activated(index)

                contentItem: Caption {
                    id: caption
                    text: segment.text
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: root.fontSize
                    font.weight: segment.current ? Font.Bold : Font.DemiBold
                    color: segment.current ? Strata.Palette.bg0
                         : segment.hovered ? Strata.Palette.text : Strata.Palette.textDim
                }
                background: Rectangle {
                    radius: 6
                    color: segment.current ? segment.accent : "transparent"
                }
            }
        }
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: root.hovered
    }
}
