import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The Mackie bank: which eight tracks the surface controls, moved in steps of 8 (tracks 1–256).
Rectangle {
    id: stepper

    required property AppStateModel appState
    required property LiveControls live

    implicitWidth: row.implicitWidth + 8
    implicitHeight: 32
    radius: 8
    color: Strata.Palette.bg2
    border.color: Strata.Palette.border

    HoverHandler {
        id: hover
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 2

        Caption {
            text: "BANK"
            font.pixelSize: Strata.Palette.smallLabelSize
            leftPadding: 5
            rightPadding: 2
            height: 30
        }
        StepButton {
            objectName: "bankDown"
            iconName: "chevronLeft"
            enabled: stepper.appState.canBankDown
            onClicked: stepper.live.stepBank(-1)
        }
        Caption {
            objectName: "bankLabel"
            text: stepper.appState.bankLabel
            color: Strata.Palette.text
            horizontalAlignment: Text.AlignHCenter
            // As wide as the widest label, so the arrows never move under the pointer.
            width: widest.implicitWidth
            height: 30
            Caption {
                id: widest
                visible: false
                text: "TRK 249\u2013256"
            }
        }
        StepButton {
            objectName: "bankUp"
            iconName: "chevronRight"
            enabled: stepper.appState.canBankUp
            onClicked: stepper.live.stepBank(1)
        }
    }

    HoverHelp {
        objectName: "bankHelp"
        shown: hover.hovered
        text: "Move the surface's bank so Strata controls tracks at this offset"
    }

    component StepButton: AbstractButton {
        id: button
        property string iconName
        implicitWidth: 22
        implicitHeight: 26
        padding: 5
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        anchors.verticalCenter: parent.verticalCenter
        contentItem: Icon {
            name: button.iconName
            color: button.enabled ? Strata.Palette.text : Strata.Palette.bg3
        }
        background: Rectangle {
            radius: 5
            color: button.down ? Strata.Palette.bg3 : button.hovered && button.enabled ? Strata.Palette.border : "transparent"
        }
    }
}
