import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A raised toolbar control: optional symbol, a label, an accent for its text and outline. When the
// toolbar is short of room the label is shortened with an ellipsis.
AbstractButton {
    id: control

    property string iconName
    property color accent: Strata.Palette.text
    property color labelColor: accent
    property bool outlined: false
    property bool showChevron: false
    property alias help: tip.text
    property int labelMaxWidth: 400

    readonly property real fixedWidth: (iconName.length > 0 ? icon.width + row.spacing : 0)
                                       + (showChevron ? chevron.width + row.spacing : 0)

    implicitHeight: 32
    // Whole pixels, rounded up: layouts round widths, and a label a fraction too narrow elides.
    implicitWidth: leftPadding + rightPadding + fixedWidth
                   + Math.ceil(Math.min(label.implicitWidth, labelMaxWidth)) + 1
    leftPadding: text.length > 0 ? 9 : 8
    rightPadding: leftPadding
    hoverEnabled: true
    focusPolicy: Qt.NoFocus

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 7
            Icon {
                id: icon
                name: control.iconName
                visible: control.iconName.length > 0
                color: control.labelColor
                width: 15
                height: 15
                anchors.verticalCenter: parent.verticalCenter
            }
            Caption {
                id: label
                objectName: "label"
                text: control.text
                color: control.enabled ? control.labelColor : Strata.Palette.alpha(control.labelColor, 0.35)
                width: Math.max(0, Math.min(implicitWidth, control.labelMaxWidth,
                                            control.availableWidth - control.fixedWidth))
                visible: text.length > 0
                anchors.verticalCenter: parent.verticalCenter
            }
            Icon {
                id: chevron
                name: "chevronDown"
                visible: control.showChevron
                color: Strata.Palette.textDim
                width: 10
                height: 10
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        radius: 7
        color: control.down ? Strata.Palette.bg3
             : control.hovered ? Qt.lighter(Strata.Palette.bg2, 1.35) : Strata.Palette.bg2
        border.color: control.outlined ? Strata.Palette.alpha(control.accent, 0.7) : Strata.Palette.border
        border.width: 1
    }

    HoverHelp {
        id: tip
        objectName: "help"
        shown: control.hovered
    }
}
