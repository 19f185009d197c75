import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// "CHOOSE YOUR MODE": Essentials or Pro, side by side. Picking a card switches at once.
Sheet {
    id: chooser

    required property AppStateModel appState
    required property LiveControls live
    required property ShellModel shell

    width: 820

    contentItem: ColumnLayout {
        spacing: 0

        ColumnLayout {
            Layout.fillWidth: true
            Layout.margins: 32
            Layout.bottomMargin: 20
            spacing: 8
            Text {
                text: "CHOOSE YOUR MODE"
                color: Strata.Palette.text
                font.pixelSize: 26
                font.weight: Font.Bold
                font.letterSpacing: 4
            }
            Text {
                Layout.fillWidth: true
                text: "You can switch any time from the toolbar \u2014 this changes nothing in your setlist."
                color: Strata.Palette.textDim
                font.pixelSize: 15
                wrapMode: Text.Wrap
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 18

            ModeCard {
                objectName: "essentialsCard"
                title: "ESSENTIALS"
                accent: Strata.Palette.teal
                current: !chooser.appState.isPro
                pros: ["8 layers", "One Mackie surface to set up", "One sound set per section", "Fewer things to configure"]
                cons: ["Capped at 8 layers", "No mid-section changes", "No bar-timed auto-advance"]
                onPicked: chooser.live.setPro(false)
            }
            ModeCard {
                objectName: "proCard"
                title: "PRO"
                accent: Strata.Palette.gold
                current: chooser.appState.isPro
                pros: ["Up to 16 layers (extender)", "Mid-section steps & momentary", "Bar-timed auto-advance", "Full feature set"]
                cons: ["More setup (extender, steps)", "More controls on screen", "Easier to misconfigure"]
                onPicked: chooser.live.setPro(true)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.topMargin: 24
            Layout.preferredHeight: 1
            color: Strata.Palette.border
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 22
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 16

            ColumnLayout {
                spacing: 4
                Text {
                    objectName: "selectedText"
                    text: chooser.appState.isPro ? "Selected: Pro" : "Selected: Essentials"
                    color: chooser.appState.isPro ? Strata.Palette.gold : Strata.Palette.teal
                    font.pixelSize: 15
                    font.weight: Font.Bold
                }
                Text {
                    text: "You can still switch modes any time from the toolbar."
                    color: Strata.Palette.textDim
                    font.pixelSize: 13
                }
            }

            Item {
                Layout.fillWidth: true
            }

            DarkCheckBox {
                objectName: "dontShowCheckBox"
                text: "Don't show this at startup"
                checked: !chooser.shell.chooserAtStartup
                onToggled: chooser.shell.chooserAtStartup = !checked
            }

            PrimaryButton {
                objectName: "continueButton"
                text: "CONTINUE"
                accent: chooser.appState.isPro ? Strata.Palette.gold : Strata.Palette.teal
                onClicked: chooser.shell.continueFromChooser()
            }
        }
    }

    component ModeCard: AbstractButton {
        id: card
        property string title
        property color accent
        property bool current
        property var pros: []
        property var cons: []
        signal picked()

        // Both cards share the row equally and are as tall as the taller one.
        Layout.fillWidth: true
        Layout.preferredWidth: 1
        Layout.fillHeight: true
        implicitHeight: cardBody.implicitHeight + 48
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        padding: 24
        onClicked: picked()

        background: Rectangle {
            radius: 14
            color: card.current ? Strata.Palette.alpha(card.accent, 0.10)
                 : card.hovered ? Strata.Palette.bg2 : Strata.Palette.bg0
            border.color: card.current ? card.accent : Strata.Palette.border
            border.width: card.current ? 2 : 1
        }

        contentItem: Column {
            id: cardBody
            spacing: 16

            Item {
                width: parent.width
                height: titleText.implicitHeight
                Text {
                    id: titleText
                    text: card.title
                    color: card.current ? card.accent : Strata.Palette.text
                    font.pixelSize: 30
                    font.weight: Font.Bold
                    font.letterSpacing: 4
                }
                Rectangle {
                    visible: card.current
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    width: 26
                    height: 26
                    radius: 13
                    color: card.accent
                    Icon {
                        anchors.centerIn: parent
                        width: 15
                        height: 15
                        name: "check"
                        color: Strata.Palette.bg0
                        lineWidth: 3
                    }
                }
            }
            Group {
                width: parent.width
                heading: "PROS"
                items: card.pros
                plus: true
                symbolColor: Strata.Palette.teal
            }
            Group {
                width: parent.width
                heading: "CONS"
                items: card.cons
                plus: false
                symbolColor: Strata.Palette.red
            }
        }
    }

    // "PROS" or "CONS" and its items, each marked with a plus or a minus.
    component Group: Column {
        id: group
        property string heading
        property var items: []
        property bool plus
        property color symbolColor

        spacing: 7

        Caption {
            text: group.heading
            font.pixelSize: Strata.Palette.smallLabelSize
        }
        Repeater {
            model: group.items
            Item {
                required property string modelData
                width: group.width
                height: itemText.implicitHeight
                Rectangle {
                    x: 1
                    anchors.verticalCenter: parent.verticalCenter
                    width: 12
                    height: 2.4
                    radius: 1.2
                    color: group.symbolColor
                }
                Rectangle {
                    x: 5.8
                    anchors.verticalCenter: parent.verticalCenter
                    visible: group.plus
                    width: 2.4
                    height: 12
                    radius: 1.2
                    color: group.symbolColor
                }
                Text {
                    id: itemText
                    x: 24
                    width: parent.width - x
                    text: parent.modelData
                    color: Strata.Palette.text
                    font.pixelSize: 15
                    wrapMode: Text.Wrap
                }
            }
        }
    }
}
