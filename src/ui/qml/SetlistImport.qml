import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// "IMPORT SETLIST": pasted text becomes songs and sections, appended to the set or replacing its
// songs. Each opening starts empty with "Replace current set" off. The sheet closes once something
// was imported; text in which nothing was found stays as it is for another try.
Sheet {
    id: dialog

    required property SetlistModel setlist

    property alias text: editor.text
    property bool replace: false
    // The format's own example, shown dimmed while the editor is empty.
    readonly property string placeholder: "Amazing Grace\nIntro\nVerse 1\nChorus\nVerse 2\nBridge\nChorus\n\nHow Great Is Our God\nIntro\nVerse\nChorus\nTag"
    readonly property bool canImport: setlist.canImport(editor.text)

    // IMPORT: builds the songs; closes when there were any. Returns how many.
    function runImport() {
        const added = dialog.setlist.importSetlist(editor.text, dialog.replace)
        if (added > 0)
            dialog.close()
        return added
    }

    width: 900
    height: 580

    onAboutToShow: {
        editor.text = ""
        dialog.replace = false
    }
    onOpened: editor.forceActiveFocus()

    contentItem: ColumnLayout {
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 28
            Layout.bottomMargin: 20
            spacing: 14

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 4
                Text {
                    text: "IMPORT SETLIST"
                    color: Strata.Palette.text
                    font.pixelSize: 24
                    font.weight: Font.Bold
                    font.letterSpacing: 4
                }
                Text {
                    text: "Paste your songs"
                    color: Strata.Palette.textDim
                    font.pixelSize: 15
                }
            }
            DarkCheckBox {
                objectName: "replaceCheckBox"
                text: "Replace current set"
                checked: dialog.replace
                focusPolicy: Qt.NoFocus
                onToggled: dialog.replace = checked
            }
            PrimaryButton {
                objectName: "cancelImportButton"
                Layout.leftMargin: 8
                text: "Cancel"
                filled: false
                focusPolicy: Qt.NoFocus
                onClicked: dialog.close()
            }
            PrimaryButton {
                objectName: "runImportButton"
                text: "IMPORT"
                enabled: dialog.canImport
                // Only an outline with a dimmed label while there is nothing to import.
                filled: enabled
                opacity: enabled ? 1 : 0.6
                focusPolicy: Qt.NoFocus
                onClicked: dialog.runImport()
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Strata.Palette.border
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 28
            Layout.topMargin: 22
            spacing: 26

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                radius: 10
                color: Strata.Palette.bg0
                border.color: editor.activeFocus ? Strata.Palette.alpha(Strata.Palette.teal, 0.5)
                                                 : Strata.Palette.border

                ScrollView {
                    anchors.fill: parent
                    anchors.margins: 1
                    clip: true

                    TextArea {
                        id: editor
                        objectName: "importEditor"
                        placeholderText: dialog.placeholder
                        placeholderTextColor: Strata.Palette.alpha(Strata.Palette.textDim, 0.45)
                        color: Strata.Palette.text
                        selectionColor: Strata.Palette.alpha(Strata.Palette.teal, 0.45)
                        selectedTextColor: Strata.Palette.text
                        font.pixelSize: 15
                        wrapMode: TextEdit.NoWrap
                        selectByMouse: true
                        padding: 16
                        background: null
                    }
                }
            }

            ColumnLayout {
                Layout.preferredWidth: 290
                Layout.maximumWidth: 290
                Layout.fillHeight: true
                spacing: 8

                Caption {
                    text: "FORMAT"
                    color: Strata.Palette.teal
                    font.pixelSize: Strata.Palette.smallLabelSize + 1
                }
                Repeater {
                    model: ["\u2022 First line of a block = song title",
                            "\u2022 Lines under it = its sections",
                            "\u2022 Blank line = next song",
                            "\u2022 A leading # on the title is optional"]
                    Text {
                        required property string modelData
                        Layout.fillWidth: true
                        text: modelData
                        color: Strata.Palette.text
                        font.pixelSize: 13
                        wrapMode: Text.Wrap
                    }
                }

                Caption {
                    Layout.topMargin: 16
                    text: "FROM PLANNING CENTER"
                    color: Strata.Palette.teal
                    font.pixelSize: Strata.Palette.smallLabelSize + 1
                }
                Text {
                    Layout.fillWidth: true
                    text: "Open your plan in Planning Center, copy the song titles + arrangement section names, and paste them here in the same shape. Direct one-click PCO sync is coming \u2014 it produces exactly this."
                    color: Strata.Palette.textDim
                    font.pixelSize: 13
                    wrapMode: Text.Wrap
                    lineHeight: 1.2
                }

                Item { Layout.fillHeight: true }

                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: note.implicitHeight + 20
                    radius: 8
                    color: Strata.Palette.alpha(Strata.Palette.gold, 0.08)
                    border.color: Strata.Palette.alpha(Strata.Palette.gold, 0.35)
                    Text {
                        id: note
                        objectName: "importNote"
                        anchors.fill: parent
                        anchors.margins: 10
                        text: "Layers, ports and modes are kept \u2014 this only changes songs/sections."
                        color: Strata.Palette.gold
                        font.pixelSize: 12
                        wrapMode: Text.Wrap
                        verticalAlignment: Text.AlignVCenter
                    }
                }
            }
        }
    }
}
