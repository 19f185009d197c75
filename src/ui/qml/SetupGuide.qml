import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// "SETUP GUIDE": numbered steps to wire Strata to the DAW, for the chosen host and control mode.
// The pickers only choose which instructions are shown.
Sheet {
    id: sheet

    required property SetupGuideModel guide

    width: 760
    height: (parent ? parent.height : 720) - 48

    onAboutToShow: {
        guide.reset()
        steps.contentY = 0
    }

    contentItem: ColumnLayout {
        spacing: 0

        // Header: title and host picker; mode picker.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.margins: 28
            Layout.bottomMargin: 18
            spacing: 16

            RowLayout {
                Layout.fillWidth: true
                Text {
                    Layout.fillWidth: true
                    text: "SETUP GUIDE"
                    color: Strata.Palette.text
                    font.pixelSize: 24
                    font.weight: Font.Bold
                    font.letterSpacing: 4
                }
                Segmented {
                    objectName: "hostPicker"
                    labels: sheet.guide.hostLabels
                    currentIndex: sheet.guide.host
                    accents: [Strata.Palette.text]
                    onActivated: index => sheet.guide.host = index
                }
            }
            RowLayout {
                spacing: 14
                Caption {
                    text: "CONTROL MODE"
                }
                Segmented {
                    objectName: "modePicker"
                    labels: sheet.guide.modeLabels
                    currentIndex: sheet.guide.mode
                    accents: [Strata.Palette.teal]
                    onActivated: index => sheet.guide.mode = index
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Strata.Palette.border
        }

        Flickable {
            id: steps
            objectName: "guideSteps"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: body.implicitHeight + 48
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }

            ColumnLayout {
                id: body
                x: 28
                y: 24
                width: steps.width - 56
                spacing: 14

                Text {
                    objectName: "guideHeading"
                    text: sheet.guide.modeLabel
                    color: Strata.Palette.teal
                    font.pixelSize: 22
                    font.weight: Font.Bold
                }
                Text {
                    Layout.fillWidth: true
                    Layout.bottomMargin: 8
                    text: sheet.guide.modeDescription
                    color: Strata.Palette.textDim
                    font.pixelSize: 12
                    wrapMode: Text.Wrap
                    lineHeight: 1.2
                }

                Repeater {
                    objectName: "stepRows"
                    model: sheet.guide.steps

                    Rectangle {
                        required property var modelData
                        objectName: "stepRow_" + modelData.number
                        Layout.fillWidth: true
                        implicitHeight: stepText.implicitHeight + 32
                        radius: 12
                        color: Strata.Palette.bg0
                        border.color: Strata.Palette.border

                        Rectangle {
                            x: 16
                            y: 16
                            width: 30
                            height: 30
                            radius: 15
                            color: Strata.Palette.alpha(Strata.Palette.teal, 0.15)
                            border.color: Strata.Palette.teal
                            Text {
                                anchors.centerIn: parent
                                text: modelData.number
                                color: Strata.Palette.teal
                                font.pixelSize: 15
                                font.weight: Font.Bold
                            }
                        }
                        Column {
                            id: stepText
                            x: 62
                            y: 16
                            width: parent.width - 78
                            spacing: 6
                            Text {
                                objectName: "stepTitle"
                                width: parent.width
                                text: modelData.title
                                color: Strata.Palette.text
                                font.pixelSize: 16
                                font.weight: Font.Bold
                                wrapMode: Text.Wrap
                            }
                            Text {
                                objectName: "stepDetail"
                                width: parent.width
                                text: modelData.detail
                                color: Strata.Palette.textDim
                                font.pixelSize: 14
                                wrapMode: Text.Wrap
                                // Fixed, so that a symbol from a fallback face does not open a gap.
                                lineHeightMode: Text.FixedHeight
                                lineHeight: 20
                            }
                        }
                    }
                }

                Text {
                    Layout.fillWidth: true
                    Layout.topMargin: 6
                    text: sheet.guide.closingLine
                    color: Strata.Palette.text
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                }

                Text {
                    Layout.fillWidth: true
                    Layout.topMargin: 14
                    text: "MUSICAL TIME FROM MIDI CLOCK (OPTIONAL)"
                    color: Strata.Palette.textDim
                    font.pixelSize: 11
                    font.weight: Font.Bold
                    font.letterSpacing: 1
                }
                Repeater {
                    objectName: "clockRows"
                    model: sheet.guide.clockSteps

                    Column {
                        required property var modelData
                        Layout.fillWidth: true
                        spacing: 4
                        Text {
                            objectName: "clockTitle"
                            width: parent.width
                            text: modelData.title
                            color: Strata.Palette.text
                            font.pixelSize: 14
                            font.weight: Font.Bold
                            wrapMode: Text.Wrap
                        }
                        Text {
                            width: parent.width
                            text: modelData.detail
                            color: Strata.Palette.textDim
                            font.pixelSize: 13
                            wrapMode: Text.Wrap
                            lineHeightMode: Text.FixedHeight
                            lineHeight: 18
                        }
                    }
                }

                Text {
                    Layout.fillWidth: true
                    Layout.topMargin: 14
                    text: "MUSICAL TIME FROM ABLETON LINK (OPTIONAL)"
                    color: Strata.Palette.textDim
                    font.pixelSize: 11
                    font.weight: Font.Bold
                    font.letterSpacing: 1
                }
                Repeater {
                    objectName: "linkRows"
                    model: sheet.guide.linkSteps

                    Column {
                        required property var modelData
                        Layout.fillWidth: true
                        spacing: 4
                        Text {
                            objectName: "linkTitle"
                            width: parent.width
                            text: modelData.title
                            color: Strata.Palette.text
                            font.pixelSize: 14
                            font.weight: Font.Bold
                            wrapMode: Text.Wrap
                        }
                        Text {
                            width: parent.width
                            text: modelData.detail
                            color: Strata.Palette.textDim
                            font.pixelSize: 13
                            wrapMode: Text.Wrap
                            lineHeightMode: Text.FixedHeight
                            lineHeight: 18
                        }
                    }
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
            Text {
                Layout.fillWidth: true
                text: "You can reopen this guide any time from the toolbar."
                color: Strata.Palette.textDim
                font.pixelSize: 13
            }
            PrimaryButton {
                objectName: "doneButton"
                text: "DONE"
                onClicked: sheet.close()
            }
        }
    }
}
