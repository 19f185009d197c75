import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// A name in the grid or an editor, typed in place: the shared name field (every keystroke handed on
// at once, Enter and Escape give the arrow keys back to navigation) at the size the spot needs.
EditField {
    property int fontSize: 15
    property bool bold: false

    font.pixelSize: fontSize
    font.weight: bold ? Font.Bold : Font.DemiBold
}
