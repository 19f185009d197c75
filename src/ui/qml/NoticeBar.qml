import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// Problems the performer has to know about, one strip each under the toolbar: what happened and
// what to do, with Undo where there is a way back. Nothing here blocks the window; each strip goes
// when it is dismissed or when its problem is resolved.
Column {
    id: bar

    required property NoticesModel notices

    Repeater {
        model: bar.notices.notices
        Rectangle {
            id: strip
            required property var modelData
            // Saving is the one that loses work; the others are news.
            readonly property color accent: modelData.kind === "saveFailing" ? Strata.Palette.red
                                                                             : Strata.Palette.gold
            objectName: "notice_" + modelData.kind
            width: bar.width
            implicitHeight: Math.max(40, line.implicitHeight + 16)
            color: Qt.tint(Strata.Palette.bg1, Strata.Palette.alpha(accent, 0.13))

            Rectangle {
                width: 4
                height: parent.height
                color: strip.accent
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Strata.Palette.border
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 8
                spacing: 10

                Icon {
                    name: "warning"
                    color: strip.accent
                    width: 17
                    height: 17
                }
                Text {
                    id: line
                    objectName: "noticeText"
                    Layout.fillWidth: true
                    text: strip.modelData.text
                    color: Strata.Palette.text
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    wrapMode: Text.Wrap
                    HoverHandler {
                        id: textHover
                    }
                    HoverHelp {
                        objectName: "noticeDetail"
                        shown: textHover.hovered
                        text: strip.modelData.detail
                    }
                }
                ToolbarButton {
                    objectName: "noticeUndo"
                    visible: strip.modelData.canUndo
                    implicitHeight: 26
                    text: "UNDO"
                    accent: Strata.Palette.gold
                    outlined: true
                    onClicked: bar.notices.undo(strip.modelData.id)
                }
                IconButton {
                    objectName: "noticeDismiss"
                    iconName: "xmark"
                    help: "Dismiss"
                    onClicked: bar.notices.dismiss(strip.modelData.id)
                }
            }
        }
    }
}
