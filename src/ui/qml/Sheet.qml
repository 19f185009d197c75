import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Strata.Ui
import Strata.Ui as Strata

// A modal sheet over the main window; the window behind is dimmed.
Popup {
    id: sheet

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 0

    background: Rectangle {
        color: Strata.Palette.bg1
        border.color: Strata.Palette.border
        radius: 16
    }

    T.Overlay.modal: Rectangle {
        color: Strata.Palette.alpha(Strata.Palette.bg0, 0.78)
    }
}
