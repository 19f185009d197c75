import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A section's jump trigger: "LEARN" without one, "LISTENING…" while the next MIDI press is
// learned for this section, else where the jump comes from (in red while that device is not
// plugged in). A click (re)learns, a click while listening stops; the chip's menu clears the
// trigger.
Chip {
    id: chip

    required property SectionGridModel gridModel
    property int sectionIndex
    property bool hasTrigger: false
    property bool listening: false
    property bool connected: true
    property string triggerText

    text: listening ? "LISTENING\u2026" : hasTrigger ? triggerText : "LEARN"
    iconName: "pianoKeys"
    accent: listening ? Strata.Palette.gold
          : hasTrigger ? (connected ? Strata.Palette.teal : Strata.Palette.red)
          : Strata.Palette.textDim
    outlined: listening || hasTrigger
    fontSize: hasTrigger && !listening ? 12 : 11
    onClicked: gridModel.jumpChipClicked(sectionIndex)

    onMenuRequested: if (hasTrigger) menu.popup(chip, 0, chip.height + 4)

    DarkMenu {
        id: menu
        objectName: "jumpMenu"
        DarkMenuItem {
            objectName: "clearJumpItem"
            text: "Clear Jump Trigger"
            onTriggered: chip.gridModel.clearJumpTrigger(chip.sectionIndex)
        }
    }
}
