import QtQuick
import QtTest
import Strata.Ui

// The setlist pane and the import dialog over the real core: the song-list index rules, the count
// texts, IMPORT, the new-set confirmation, undo and redo from the keyboard, and fields that give the
// arrow keys back when editing ends. The demo set has five songs: Northern Lights (7 sections),
// Gold Rush, Harbour Song, Slow Burn, Last Orders.
ViewTestCase {
    name: "Setlist"

    function row(i) {
        tryVerify(() => findChild(view, "songRow_" + i) !== null, patience, "row " + i + " is built")
        return find("songRow_" + i)
    }
    function songNames() {
        const names = []
        for (let i = 0; i < view.appState.songCount; ++i)
            names.push(view.appState.songNames[i])
        return names
    }
    function select(song, section) {
        view.setlist.selectSong(song)
        for (let i = 0; i < section; ++i)
            view.appState.advance()
        compare(view.appState.songIndex, song)
        compare(view.appState.sectionIndex, section)
    }
    // Opens row i's context menu with a right click and returns it.
    function openMenu(i) {
        const r = row(i)
        mouseClick(r, r.width - 10, r.height / 2, Qt.RightButton)
        const menu = findChild(r, "songMenu")
        tryVerify(() => menu.opened)
        return menu
    }
    // Picks an entry of row i's context menu: 0 Move Up, 1 Move Down, 3 Delete.
    function menuCommand(i, entry) {
        const menu = openMenu(i)
        const item = menu.itemAt(entry)
        verify(item.enabled, "menu entry " + entry + " of row " + i + " is enabled")
        mouseClick(item)
        tryVerify(() => !menu.visible)
    }
    function typeText(text) {
        for (const c of text)
            keyClick(c)
    }
    function undo() {
        keyClick(Qt.Key_Z, Qt.ControlModifier)
    }
    function redo() {
        keyClick(Qt.Key_Z, Qt.ControlModifier | Qt.ShiftModifier)
    }

    function test_countsAndNumbers() {
        compare(find("songCount").text, "5 SONGS")
        compare(findChild(row(0), "songNumber").text, "01")
        compare(findChild(row(0), "sectionCount").text, "7 sections")
        compare(findChild(row(0), "nameField").text, "Northern Lights")
        for (let i = 0; i < 5; ++i)
            click("addSongButton")
        compare(find("songCount").text, "10 SONGS")
        compare(view.appState.songIndex, 9)
        tryVerify(() => findChild(view, "songRow_9") !== null)
        compare(findChild(row(9), "songNumber").text, "10")
        compare(findChild(row(9), "nameField").text, "New Song")
        compare(findChild(row(9), "sectionCount").text, "3 sections")

        // No singular forms.
        verify(view.setlist.importSetlist("Solo\nOnly", true) === 1)
        compare(find("songCount").text, "1 SONGS")
        compare(findChild(row(0), "sectionCount").text, "1 sections")
    }

    function test_theCurrentSongStaysInSight() {
        let text = ""
        for (let i = 1; i <= 20; ++i)
            text += "Song " + i + "\nVerse\n\n"
        verify(view.setlist.importSetlist(text, false) === 20)
        const list = find("songList")
        const inSight = (i) => {
            const r = list.itemAtIndex(i)
            return r !== null && r.y >= list.contentY && r.y + r.height <= list.contentY + list.height
        }
        tryVerify(() => inSight(5), patience, "the first imported song")
        view.setlist.selectSong(24)
        tryVerify(() => inSight(24), patience, "the last song")
        // Navigation from the keyboard: back over the song boundary.
        view.setlist.selectSong(1)
        tryVerify(() => inSight(1))
        verify(!inSight(24))
        keyClick(Qt.Key_Left)
        compare(view.appState.songIndex, 0)
        tryVerify(() => inSight(0))
    }

    function test_aClickSelectsTheSongAtItsFirstSection() {
        select(0, 3)
        mouseClick(row(2))
        compare(view.appState.songIndex, 2)
        compare(view.appState.sectionIndex, 0)
        verify(row(2).isCurrent)
        verify(!row(0).isCurrent)
        // On the name too, which is not edited by a single click.
        mouseClick(findChild(row(3), "nameField"))
        compare(view.appState.songIndex, 3)
        verify(!findChild(row(3), "nameField").activeFocus)
    }

    // Which song is current after a delete or a move is the engine's rule (its song-list
    // table); here: the menu does it, its moves stop at the ends, and the highlight follows.
    function test_theRowMenuMovesAndDeletesAndTheHighlightFollows() {
        select(1, 2)
        menuCommand(1, 0) // the current song up
        compare(songNames(), ["Gold Rush", "Northern Lights", "Harbour Song", "Slow Burn", "Last Orders"])
        compare(view.appState.sectionIndex, 2, "a move keeps the section")
        verify(row(0).isCurrent)
        menuCommand(0, 1) // and down again
        compare(view.appState.songIndex, 1)
        verify(row(1).isCurrent)

        let menu = openMenu(0)
        verify(!menu.itemAt(0).enabled, "Move Up on the first row")
        menu.close()
        tryVerify(() => !menu.visible)
        menu = openMenu(4)
        verify(!menu.itemAt(1).enabled, "Move Down on the last row")
        mouseClick(menu.itemAt(1)) // a disabled entry does nothing
        compare(songNames()[4], "Last Orders")
        menu.close()
        tryVerify(() => !menu.visible)

        select(4, 2)
        menuCommand(4, 3)
        compare(view.appState.songName, "Slow Burn")
        compare(view.appState.sectionIndex, 0)
        verify(row(3).isCurrent)
        for (let left = 4; left > 0; --left)
            menuCommand(0, 3)
        compare(find("songCount").text, "0 SONGS")
        compare(view.appState.songIndex, 0)
        compare(find("songList").count, 0)
    }

    function test_newSetAsksFirst() {
        const before = songNames()
        click("newSetButton")
        tryVerify(() => find("newSetConfirmation").opened)
        click("cancelNewSetButton")
        tryVerify(() => !find("newSetConfirmation").visible)
        compare(songNames(), before)
        verify(!view.appState.undo.canUndo, "Cancel changed nothing")

        click("newSetButton")
        tryVerify(() => find("newSetConfirmation").opened)
        click("confirmNewSetButton")
        tryVerify(() => !find("newSetConfirmation").visible)
        compare(songNames(), ["New Song"])
        compare(view.appState.setName, "Untitled Set")
    }

    function test_importFollowsTheTextAppendsOrReplacesAndStartsAfreshEachTime() {
        click("importButton")
        const dialog = find("setlistImport")
        tryVerify(() => dialog.opened)
        const button = find("runImportButton")
        verify(!button.enabled, "nothing typed")
        for (const blank of ["   ", "\n\n", " \t\n \r\n", "\u2028\u00a0"]) {
            dialog.text = blank
            verify(!button.enabled, JSON.stringify(blank) + " is blank")
        }
        // Nothing found (only reachable past the button): the dialog stays as it is.
        compare(dialog.runImport(), 0)
        verify(dialog.opened)
        compare(view.appState.songCount, 5)

        dialog.text = ""
        tryVerify(() => find("importEditor").activeFocus)
        typeText("Encore")
        keyClick(Qt.Key_Return)
        typeText("Intro")
        keyClick(Qt.Key_Return)
        typeText("Verse")
        verify(button.enabled)
        click("runImportButton")
        tryVerify(() => !dialog.visible)
        compare(view.appState.songCount, 6)
        compare(view.appState.songName, "Encore")
        // The keyboard is the window's again: the arrows navigate.
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 1)

        // Opened again: empty, Replace off. Cancel keeps the set.
        click("importButton")
        tryVerify(() => dialog.opened)
        compare(dialog.text, "")
        verify(!find("replaceCheckBox").checked)
        dialog.text = "Something"
        click("replaceCheckBox")
        verify(dialog.replace)
        click("cancelImportButton")
        tryVerify(() => !dialog.visible)
        compare(view.appState.songCount, 6)
        // Escape from the editor closes the sheet the same way.
        click("importButton")
        tryVerify(() => dialog.opened)
        tryVerify(() => find("importEditor").activeFocus)
        keyClick(Qt.Key_Escape)
        tryVerify(() => !dialog.visible)
        keyClick(Qt.Key_Left)
        compare(view.appState.sectionIndex, 0)

        click("importButton")
        tryVerify(() => dialog.opened)
        compare(dialog.text, "")
        verify(!dialog.replace)
        dialog.text = "#One\na\n\n# Two"
        click("replaceCheckBox")
        click("runImportButton")
        tryVerify(() => !dialog.visible)
        compare(songNames(), ["One", "Two"])
    }

    function test_enterAndEscapeGiveTheArrowKeysBack_data() {
        return [ { tag: "Enter", key: Qt.Key_Return }, { tag: "Escape", key: Qt.Key_Escape } ]
    }
    function test_enterAndEscapeGiveTheArrowKeysBack(data) {
        select(0, 0)
        const field = find("setNameField")
        mouseClick(field)
        verify(field.activeFocus)
        keyClick(Qt.Key_End)
        typeText("!")
        // While editing, the arrows move the text cursor, not the performer.
        keyClick(Qt.Key_Left)
        compare(view.appState.sectionIndex, 0)
        keyClick(data.key)
        verify(!field.activeFocus)
        compare(view.appState.setName, "Friday at The Crown!")
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 1)

        // The same for a song's name, entered with a double click.
        const name = findChild(row(1), "nameField")
        mouseDoubleClickSequence(findChild(row(1), "nameArea"))
        verify(name.activeFocus)
        compare(view.appState.songIndex, 1)
        typeText("Rush")
        compare(view.appState.songName, "Rush")
        keyClick(data.key)
        verify(!name.activeFocus)
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 1)

        // And for the song's name above the grid.
        const title = find("songName")
        mouseClick(title)
        verify(title.activeFocus)
        keyClick(Qt.Key_End)
        typeText("x")
        compare(view.grid.songName, "Rushx")
        keyClick(data.key)
        verify(!title.activeFocus)
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 2)
    }

    function test_aRowDeletedWhileItsNameIsEditedLeavesTheKeysToTheWindow() {
        click("addSongButton")
        const added = view.appState.songIndex
        mouseDoubleClickSequence(findChild(row(added), "nameArea"))
        verify(findChild(row(added), "nameField").activeFocus)
        typeText("Ballad")
        compare(view.appState.songName, "Ballad")
        // Undone twice from inside the field: the name, then the added song with its row.
        undo()
        compare(view.appState.songName, "New Song")
        undo()
        compare(view.appState.songCount, 5)
        select(1, 0)
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 1)
        keyClick(Qt.Key_Y, Qt.ControlModifier)
        compare(view.appState.songCount, 6)
    }

    function test_undoTakesBackABurstOfTypingAsOneStep() {
        const field = find("setNameField")
        mouseClick(field)
        keyClick(Qt.Key_End)
        typeText(" live")
        compare(view.appState.setName, "Friday at The Crown live")
        // Ctrl+Z inside the field is the set's undo: the whole word in one step.
        undo()
        compare(view.appState.setName, "Friday at The Crown")
        compare(field.text, "Friday at The Crown")
        redo()
        compare(view.appState.setName, "Friday at The Crown live")
        keyClick(Qt.Key_Return)

        // A second visit is a step of its own; from the window, Ctrl+Z reaches it.
        mouseClick(field)
        keyClick(Qt.Key_End)
        typeText("!!")
        keyClick(Qt.Key_Escape)
        verify(!field.activeFocus)
        undo()
        compare(view.appState.setName, "Friday at The Crown live")
        undo()
        compare(view.appState.setName, "Friday at The Crown")
        verify(!view.appState.undo.canUndo)
        keyClick(Qt.Key_Y, Qt.ControlModifier)
        compare(view.appState.setName, "Friday at The Crown live")
    }
}
