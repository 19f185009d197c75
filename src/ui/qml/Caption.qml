import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// The toolbar's and indicators' label type: small, semibold, widely spaced.
Text {
    color: Strata.Palette.textDim
    font.pixelSize: Strata.Palette.labelSize
    font.weight: Font.DemiBold
    font.letterSpacing: Strata.Palette.labelSpacing
    verticalAlignment: Text.AlignVCenter
    elide: Text.ElideRight
    maximumLineCount: 1
}
