import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// Five cards about the main window, one at a time.
Sheet {
    id: sheet

    required property QuickStartModel quickStart
    property int page: 0
    readonly property var card: quickStart.cards[page]
    readonly property bool lastPage: page === quickStart.cards.length - 1

    width: 600
    height: 460

    onAboutToShow: page = 0

    contentItem: ColumnLayout {
        spacing: 0

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 40
            Layout.bottomMargin: 12
            spacing: 18

            Rectangle {
                width: 76
                height: 76
                radius: 20
                color: Strata.Palette.alpha(Strata.Palette.teal, 0.12)
                border.color: Strata.Palette.alpha(Strata.Palette.teal, 0.5)
                Icon {
                    objectName: "cardIcon"
                    anchors.centerIn: parent
                    width: 40
                    height: 40
                    name: sheet.card.icon
                    color: Strata.Palette.teal
                    lineWidth: 2.2
                }
            }
            Text {
                objectName: "cardTitle"
                Layout.fillWidth: true
                text: sheet.card.title
                color: Strata.Palette.text
                font.pixelSize: 26
                font.weight: Font.Bold
                wrapMode: Text.Wrap
            }
            Text {
                objectName: "cardBody"
                Layout.fillWidth: true
                Layout.fillHeight: true
                text: sheet.card.body
                color: Strata.Palette.textDim
                font.pixelSize: 16
                wrapMode: Text.Wrap
                lineHeight: 1.3
                verticalAlignment: Text.AlignTop
            }
        }

        Row {
            objectName: "pageDots"
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 18
            spacing: 8
            Repeater {
                model: sheet.quickStart.cards.length
                Rectangle {
                    required property int index
                    width: index === sheet.page ? 22 : 8
                    height: 8
                    radius: 4
                    color: index === sheet.page ? Strata.Palette.teal : Strata.Palette.bg3
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Strata.Palette.border
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 18
            Layout.leftMargin: 28
            Layout.rightMargin: 28
            spacing: 10

            PrimaryButton {
                objectName: "skipButton"
                text: "Skip"
                filled: false
                onClicked: sheet.close()
            }
            Item {
                Layout.fillWidth: true
            }
            PrimaryButton {
                objectName: "backButton"
                text: "Back"
                filled: false
                visible: sheet.page > 0
                onClicked: sheet.page -= 1
            }
            PrimaryButton {
                objectName: "forwardButton"
                text: sheet.lastPage ? "Start playing" : "Next"
                onClicked: {
                    if (sheet.lastPage)
                        sheet.close()
                    else
                        sheet.page += 1
                }
            }
        }
    }
}
