import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A caption and a small number typed in place ("Ch 1", "CC 20"). What is typed is handed on only
// when it is committed (Enter, or the field losing the keyboard), never keystroke by keystroke: a
// CC on its way from 20 to 64 must not pass through 6 in the DAW. Escape puts the stored value
// back. A number out of range, like any text that is no number, goes back to the stored value.
// With `optional`, an empty field means no number (-1).
RowLayout {
    id: root

    property string label
    property int value
    property int from: 0
    property int to: 127
    property bool optional: false
    property int fieldWidth: 42
    readonly property alias field: input

    signal edited(int value)

    spacing: 5

    Caption {
        text: root.label
        font.pixelSize: Strata.Palette.smallLabelSize
        visible: text.length > 0
    }
    TextField {
        id: input
        objectName: "numberInput"
        Layout.preferredWidth: root.fieldWidth
        text: root.optional && root.value < 0 ? "" : String(root.value)
        horizontalAlignment: Text.AlignHCenter
        font.pixelSize: 13
        font.weight: Font.DemiBold
        color: Strata.Palette.text
        selectionColor: Strata.Palette.alpha(Strata.Palette.teal, 0.45)
        padding: 4
        hoverEnabled: true
        selectByMouse: true
        inputMethodHints: Qt.ImhDigitsOnly
        validator: RegularExpressionValidator { regularExpression: /[0-9]{0,3}/ }

        function stored() { return root.optional && root.value < 0 ? "" : String(root.value) }
        // Hands on what was typed when it differs from the stored value and is a valid choice,
        // then shows what is stored (which the edit has changed, or not).
        function commit() {
            if (text !== stored()) {
                if (text.length === 0) {
                    if (root.optional)
                        root.edited(-1)
                } else {
                    const n = parseInt(text, 10)
                    if (n >= root.from && n <= root.to)
                        root.edited(n)
                }
            }
            text = stored()
        }
        function revert() {
            text = stored()
            focus = false
        }
        onActiveFocusChanged: if (!activeFocus) commit()
        Keys.onReturnPressed: { commit(); focus = false }
        Keys.onEnterPressed: { commit(); focus = false }
        Keys.onEscapePressed: revert()
        Connections {
            target: root
            function onValueChanged() { if (!input.activeFocus) input.text = input.stored() }
        }

        background: Rectangle {
            radius: 6
            color: input.activeFocus ? Strata.Palette.bg0 : Strata.Palette.bg1
            border.color: input.activeFocus ? Strata.Palette.alpha(Strata.Palette.teal, 0.7)
                        : input.hovered ? Strata.Palette.textDim : Strata.Palette.border
        }
    }
}
