import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A borderless one-line text field for names in the set. Every change is handed over as it is
// typed (`edited`), so the rest of the window follows at once. Enter, Return and Escape end the
// editing and give the keyboard back to the window: the arrow keys move through the set again
// instead of moving the text cursor. Clicking elsewhere does the same where the view calls leave().
//
// With `history` set (the window's UndoModel, `appState.undo`), everything typed in one visit of the
// field, from entering it to leaving it, becomes one undo step, and Ctrl+Z / Ctrl+Shift+Z (or
// Ctrl+Y) inside the field undo and redo edits of the set like everywhere else in the window.
//
//     EditField {
//         value: model.name
//         placeholderText: "Song name"
//         history: appState.undo
//         onEdited: (text) => setlist.renameSong(index, text)
//     }
TextField {
    id: field

    // The stored text. The field shows it whenever it changes, also while editing.
    property string value
    // The window's undo history (an UndoModel), or null for plain text-field undo.
    property QtObject history: null
    // True while the field holds the keyboard.
    readonly property bool editing: activeFocus

    // One change made by the user (typing, pasting, cutting), with the whole new text.
    signal edited(string text)

    // The visit the edits belong to; a new one each time the field gains the keyboard.
    property int session: 0

    // Ends editing: the field lets go of the keyboard and the window gets it back.
    function leave() {
        field.focus = false
        const window = field.Window.window
        if (window && window.contentItem)
            window.contentItem.forceActiveFocus()
        else if (field.activeFocus && field.parent)
            field.parent.forceActiveFocus()
    }

    // Takes the keyboard with the whole text selected, ready to type over.
    function startEditing() {
        field.forceActiveFocus()
        field.selectAll()
    }

    function isUndoKey(event) {
        return event.key === Qt.Key_Z && (event.modifiers & Qt.ControlModifier)
                && !(event.modifiers & Qt.ShiftModifier)
    }
    function isRedoKey(event) {
        const control = event.modifiers & Qt.ControlModifier
        const shift = event.modifiers & Qt.ShiftModifier
        return control && ((event.key === Qt.Key_Z && shift) || (event.key === Qt.Key_Y && !shift))
    }

    text: value
    selectByMouse: true
    padding: 3
    leftPadding: 5
    rightPadding: 5
    color: Strata.Palette.text
    placeholderTextColor: Strata.Palette.alpha(Strata.Palette.textDim, 0.8)
    selectionColor: Strata.Palette.alpha(Strata.Palette.teal, 0.45)
    selectedTextColor: Strata.Palette.text
    font.pixelSize: 14
    verticalAlignment: TextInput.AlignVCenter

    background: Rectangle {
        radius: 5
        color: field.activeFocus ? Strata.Palette.bg2
             : field.hovered ? Strata.Palette.alpha(Strata.Palette.bg2, 0.6) : "transparent"
        border.width: 1
        border.color: field.activeFocus ? Strata.Palette.alpha(Strata.Palette.teal, 0.6) : "transparent"
    }

    onActiveFocusChanged: {
        if (activeFocus && history)
            session = history.newSession()
        if (!activeFocus)
            // What was typed but not taken (an edit the set refused) gives way to the stored text.
            text = Qt.binding(() => field.value)
    }

    onTextEdited: {
        if (!history) {
            edited(text)
            return
        }
        history.beginEdit(session)
        try {
            edited(text)
        } finally {
            history.endEdit()
        }
    }

    onAccepted: leave()
    Keys.onEscapePressed: leave()

    // The field would take Ctrl+Z for its own text; with a history the set's undo wins.
    Keys.onShortcutOverride: (event) => {
        if (history && (isUndoKey(event) || isRedoKey(event)))
            event.accepted = true
    }
    Keys.onPressed: (event) => {
        if (!history)
            return
        if (isUndoKey(event)) {
            history.undo()
            event.accepted = true
        } else if (isRedoKey(event)) {
            history.redo()
            event.accepted = true
        }
    }
}
