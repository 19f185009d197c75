import QtQuick
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// A MIDI destination by name: the current one, with a menu of the destinations there are now.
// A stored name that is not connected at the moment stays shown (and chosen) until another is
// picked. "No port" (an empty name) sends nothing; the menu offers it first, to take a row off
// the air.
ToolbarButton {
    id: picker

    property var ports: []
    property string port

    signal picked(string port)

    implicitHeight: 26
    text: port.length > 0 ? port : "No port"
    accent: Strata.Palette.text
    labelColor: port.length > 0 ? Strata.Palette.text : Strata.Palette.textDim
    showChevron: true
    labelMaxWidth: 200
    onClicked: menu.popup(picker, 0, picker.height + 4)

    DarkMenu {
        id: menu
        objectName: "portMenu"

        DarkMenuItem {
            objectName: "portItem_none"
            text: "No port"
            checked: picker.port.length === 0
            onTriggered: picker.picked("")
        }

        Instantiator {
            model: picker.ports.indexOf(picker.port) < 0 && picker.port.length > 0
                   ? [picker.port].concat(picker.ports) : picker.ports
            delegate: DarkMenuItem {
                required property string modelData
                objectName: "portItem_" + modelData
                text: modelData
                checked: modelData === picker.port
                onTriggered: picker.picked(modelData)
            }
            onObjectAdded: (index, object) => menu.insertItem(index + 1, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
