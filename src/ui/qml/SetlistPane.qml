import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The set: the brand mark, the set's name, its songs in order with the current one highlighted, and
// the commands to add, import or start over. Every change goes through the set's operations, so the
// autosave and undo see it.
Rectangle {
    id: pane

    required property AppStateModel appState
    required property SetlistModel setlist

    // Shows the new-set confirmation, and the import sheet.
    property bool confirmNewSet: false
    property bool showImport: false

    // Takes the keyboard back from a text field, so the arrow keys move through the set again.
    function releaseKeyboard() {
        const window = pane.Window.window
        if (window && window.contentItem && window.activeFocusItem !== window.contentItem)
            window.contentItem.forceActiveFocus()
    }

    color: Strata.Palette.bg1

    onConfirmNewSetChanged: {
        if (confirmNewSet && !newSetConfirmation.opened)
            newSetConfirmation.open()
        else if (!confirmNewSet && newSetConfirmation.visible)
            newSetConfirmation.close()
    }
    onShowImportChanged: {
        if (showImport && !importSheet.opened)
            importSheet.open()
        else if (!showImport && importSheet.visible)
            importSheet.close()
    }

    // A click on an empty part of the pane ends editing too.
    TapHandler {
        onTapped: pane.releaseKeyboard()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 18
        anchors.bottomMargin: 10
        spacing: 0

        Column {
            Layout.leftMargin: 18
            Layout.bottomMargin: 16
            spacing: 0
            Text {
                objectName: "brandMark"
                text: "STRATA"
                color: Strata.Palette.text
                font.pixelSize: 28
                font.weight: Font.Bold
                font.letterSpacing: 6
            }
            Text {
                text: "by Korvel"
                color: Strata.Palette.textDim
                font.pixelSize: 12
                font.letterSpacing: 1
            }
        }

        EditField {
            id: setNameField
            objectName: "setNameField"
            Layout.fillWidth: true
            Layout.leftMargin: 13
            Layout.rightMargin: 12
            value: pane.appState.setName
            placeholderText: "Set name"
            history: pane.appState.undo
            font.pixelSize: 18
            font.weight: Font.DemiBold
            onEdited: (text) => pane.setlist.renameSet(text)
        }

        Caption {
            objectName: "songCount"
            Layout.leftMargin: 18
            Layout.topMargin: 2
            Layout.bottomMargin: 12
            // Always this plural word, also for one song.
            text: pane.appState.songCount + " SONGS"
            font.pixelSize: Strata.Palette.smallLabelSize
        }

        ListView {
            id: songs
            objectName: "songList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.leftMargin: 10
            Layout.rightMargin: 10
            clip: true
            spacing: 3
            model: pane.setlist.songs
            boundsBehavior: Flickable.StopAtBounds
            // The arrow keys belong to the set's navigation, never to the list.
            keyNavigationEnabled: false
            // The current song stays in sight, however it became current (the arrows, a
            // footswitch, a cue from the DAW, an added or imported song).
            readonly property int currentSong: pane.appState.songIndex
            onCurrentSongChanged: Qt.callLater(songs.showCurrent)
            onCountChanged: Qt.callLater(songs.showCurrent)
            function showCurrent() {
                if (currentSong >= 0 && currentSong < count)
                    positionViewAtIndex(currentSong, ListView.Contain)
            }
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }

            delegate: SongRow {
                width: ListView.view.width
                isCurrent: index === pane.appState.songIndex
                canMoveUp: index > 0
                canMoveDown: index < songs.count - 1
                history: pane.appState.undo
                onTouched: {
                    if (!editing)
                        pane.releaseKeyboard()
                }
                onSelected: pane.setlist.selectSong(index)
                onRenamed: (text) => pane.setlist.renameSong(index, text)
                onMoveUp: pane.setlist.moveSongUp(index)
                onMoveDown: pane.setlist.moveSongDown(index)
                onDeleted: pane.setlist.deleteSong(index)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            Layout.bottomMargin: 8
            color: Strata.Palette.border
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            spacing: 0

            FooterButton {
                objectName: "addSongButton"
                text: "Add Song"
                iconName: "plus.circle"
                onClicked: {
                    pane.releaseKeyboard()
                    pane.setlist.addSong()
                }
            }
            Item { Layout.fillWidth: true }
            FooterButton {
                objectName: "importButton"
                text: "Import"
                iconName: "square.and.arrow.down"
                help: "Paste a setlist (songs + sections) to build it fast \u2014 or bring one in from Planning Center."
                onClicked: {
                    pane.releaseKeyboard()
                    pane.showImport = true
                }
            }
            Item { Layout.fillWidth: true }
            FooterButton {
                objectName: "newSetButton"
                text: "New Set"
                iconName: "trash"
                help: "Clear all songs and start a fresh set. Keeps your layers and ports."
                onClicked: {
                    pane.releaseKeyboard()
                    pane.confirmNewSet = true
                }
            }
        }
    }

    SetlistImport {
        id: importSheet
        objectName: "setlistImport"
        setlist: pane.setlist
        onClosed: pane.showImport = false
    }

    Sheet {
        id: newSetConfirmation
        objectName: "newSetConfirmation"
        width: 460
        onClosed: pane.confirmNewSet = false

        contentItem: ColumnLayout {
            spacing: 22
            Text {
                objectName: "newSetQuestion"
                Layout.fillWidth: true
                Layout.margins: 28
                Layout.bottomMargin: 0
                text: "Start a new set? This clears all songs and sections (your layers and ports are kept)."
                color: Strata.Palette.text
                font.pixelSize: 16
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
                lineHeight: 1.2
            }
            RowLayout {
                Layout.fillWidth: true
                Layout.margins: 28
                Layout.topMargin: 0
                spacing: 12
                Item { Layout.fillWidth: true }
                PrimaryButton {
                    objectName: "cancelNewSetButton"
                    text: "Cancel"
                    filled: false
                    focusPolicy: Qt.NoFocus
                    onClicked: newSetConfirmation.close()
                }
                PrimaryButton {
                    objectName: "confirmNewSetButton"
                    text: "New Set"
                    accent: Strata.Palette.red
                    focusPolicy: Qt.NoFocus
                    onClicked: {
                        pane.setlist.newSet()
                        newSetConfirmation.close()
                    }
                }
            }
        }
    }
}
