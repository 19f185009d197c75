import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One song of the set: its number, its name and its section count. A click anywhere on the row
// selects the song; a double click on the name renames it in place. The context menu (right click)
// moves the song a place up or down or deletes it.
Rectangle {
    id: row

    required property int index
    required property string name
    required property int sectionCount
    property bool isCurrent: false
    property bool canMoveUp: false
    property bool canMoveDown: false
    // The window's undo history, for the name field.
    property QtObject history: null
    readonly property bool editing: nameField.editing

    signal selected()
    signal renamed(string name)
    signal moveUp()
    signal moveDown()
    signal deleted()
    // Any press on the row: the view takes the keyboard back from a field elsewhere.
    signal touched()

    function openMenu(x, y) {
        menu.popup(row, x, y)
    }
    function rename() {
        row.selected()
        nameField.startEditing()
    }

    objectName: "songRow_" + index
    implicitHeight: 54
    radius: 8
    color: isCurrent ? Strata.Palette.alpha(Strata.Palette.teal, 0.12)
         : rowArea.containsMouse ? Strata.Palette.alpha(Strata.Palette.bg2, 0.8) : "transparent"
    border.color: isCurrent ? Strata.Palette.alpha(Strata.Palette.teal, 0.55) : "transparent"

    MouseArea {
        id: rowArea
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onPressed: row.touched()
        onClicked: (mouse) => {
            if (mouse.button === Qt.RightButton)
                row.openMenu(mouse.x, mouse.y)
            else
                row.selected()
        }
    }

    Text {
        id: number
        objectName: "songNumber"
        x: 12
        // Room for three digits from song 100 on.
        width: Math.max(24, implicitWidth)
        anchors.verticalCenter: parent.verticalCenter
        // 01, 02, …; three digits from 100 on.
        text: String(row.index + 1).padStart(2, "0")
        color: row.isCurrent ? Strata.Palette.teal : Strata.Palette.textDim
        font.pixelSize: 13
        font.weight: Font.DemiBold
        font.letterSpacing: 1
    }

    EditField {
        id: nameField
        objectName: "nameField"
        anchors.left: number.right
        anchors.leftMargin: 4
        anchors.right: parent.right
        anchors.rightMargin: 8
        y: 6
        value: row.name
        placeholderText: "Song name"
        history: row.history
        font.pixelSize: 15
        font.weight: row.isCurrent ? Font.Bold : Font.Normal
        onEdited: (text) => row.renamed(text)
    }

    // Over the name while it is not being edited, so that a click there selects like the rest of
    // the row instead of putting a text cursor in the name.
    MouseArea {
        objectName: "nameArea"
        anchors.fill: nameField
        enabled: !nameField.editing
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onPressed: row.touched()
        onClicked: (mouse) => {
            if (mouse.button === Qt.RightButton) {
                const at = mapToItem(row, mouse.x, mouse.y)
                row.openMenu(at.x, at.y)
            } else {
                row.selected()
            }
        }
        onDoubleClicked: (mouse) => {
            if (mouse.button === Qt.LeftButton)
                row.rename()
        }
    }

    Text {
        objectName: "sectionCount"
        anchors.left: nameField.left
        anchors.leftMargin: nameField.leftPadding
        anchors.top: nameField.bottom
        anchors.topMargin: -1
        // Always this plural word, also for one section.
        text: row.sectionCount + " sections"
        color: Strata.Palette.textDim
        font.pixelSize: 11
        font.letterSpacing: 0.3
    }

    DarkMenu {
        id: menu
        objectName: "songMenu"
        implicitWidth: 170
        DarkMenuItem {
            objectName: "moveUpItem"
            text: "Move Up"
            enabled: row.canMoveUp
            onTriggered: row.moveUp()
        }
        DarkMenuItem {
            objectName: "moveDownItem"
            text: "Move Down"
            enabled: row.canMoveDown
            onTriggered: row.moveDown()
        }
        MenuDivider {}
        DarkMenuItem {
            objectName: "deleteItem"
            text: "Delete"
            destructive: true
            onTriggered: row.deleted()
        }
    }
}
