import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// "Bars before section end: − 4 +": a bar count within 1…32, one bar a click.
RowLayout {
    id: stepper

    property string label
    property int value: 2
    property int from: 1
    property int to: 32

    signal moved(int value)

    spacing: 6

    Text {
        objectName: "stepperLabel"
        text: stepper.label
        color: Strata.Palette.textDim
        font.pixelSize: 13
    }
    IconButton {
        objectName: "stepperDown"
        iconName: "minus"
        enabled: stepper.value > stepper.from
        opacity: enabled ? 1 : 0.35
        onClicked: stepper.moved(Math.max(stepper.from, Math.min(stepper.to, stepper.value - 1)))
    }
    Text {
        objectName: "stepperValue"
        Layout.minimumWidth: 22
        horizontalAlignment: Text.AlignHCenter
        text: stepper.value
        color: Strata.Palette.text
        font.pixelSize: 15
        font.weight: Font.Bold
    }
    IconButton {
        objectName: "stepperUp"
        iconName: "plus"
        enabled: stepper.value < stepper.to
        opacity: enabled ? 1 : 0.35
        onClicked: stepper.moved(Math.max(stepper.from, Math.min(stepper.to, stepper.value + 1)))
    }
}
