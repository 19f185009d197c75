import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One Moment: its name, what it does in one sentence, when it fires, what it does to each visible
// layer, and (folded away) the patch and CC messages it sends.
Rectangle {
    id: card

    required property MomentsEditorModel editor
    // The Moment as the editor model shows it.
    property var moment: ({})
    readonly property string momentID: moment.id !== undefined ? moment.id : ""
    readonly property string anchor: moment.anchor !== undefined ? moment.anchor : "manual"
    readonly property var patches: moment.patches !== undefined ? moment.patches : []
    readonly property var ccs: moment.ccs !== undefined ? moment.ccs : []
    // Folded unless the Moment already sends something.
    property bool advancedOpen: false
    Component.onCompleted: advancedOpen = patches.length + ccs.length > 0

    implicitHeight: content.implicitHeight + 28
    radius: 12
    color: Strata.Palette.bg2
    border.color: Strata.Palette.border

    ColumnLayout {
        id: content
        x: 16
        y: 14
        width: parent.width - 32
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            InlineField {
                objectName: "momentName"
                Layout.fillWidth: true
                value: card.moment.name !== undefined ? card.moment.name : ""
                placeholderText: "Moment name"
                fontSize: 17
                bold: true
                onEdited: text => card.editor.setName(card.momentID, text)
            }
            ToolbarButton {
                objectName: "testButton"
                text: "TEST"
                iconName: "play"
                accent: Strata.Palette.teal
                outlined: true
                help: "Fire this Moment right now to confirm it sends \u2014 no Cadenzo needed. Hit ALL ON to reset."
                onClicked: card.editor.test(card.momentID)
            }
            IconButton {
                objectName: "deleteMomentButton"
                iconName: "trash"
                hoverAccent: Strata.Palette.red
                onClicked: card.editor.deleteMoment(card.momentID)
            }
        }

        Text {
            objectName: "momentSummary"
            Layout.fillWidth: true
            text: card.moment.summary !== undefined ? card.moment.summary : ""
            color: Strata.Palette.textDim
            font.pixelSize: 14
            font.italic: true
            wrapMode: Text.Wrap
        }

        // ---- When ----
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            Caption {
                text: "WHEN IT FIRES"
                font.pixelSize: Strata.Palette.smallLabelSize
            }
            RowLayout {
                spacing: 14
                Segmented {
                    objectName: "anchorPicker"
                    readonly property var kinds: ["manual", "onSectionEnter", "barsBeforeSectionEnd", "barsAfterStart"]
                    labels: ["Manual", "On enter", "Last N bars", "After N bars"]
                    accents: [Strata.Palette.gold]
                    segmentPadding: 10
                    fontSize: 11
                    currentIndex: kinds.indexOf(card.anchor)
                    onActivated: index => card.editor.setAnchor(card.momentID, kinds[index])
                }
                BarStepper {
                    objectName: "barStepper"
                    visible: card.anchor === "barsBeforeSectionEnd" || card.anchor === "barsAfterStart"
                    label: card.anchor === "barsAfterStart" ? "Bars after section start:" : "Bars before section end:"
                    value: card.moment.bars !== undefined ? card.moment.bars : 2
                    onMoved: value => card.editor.setBars(card.momentID, value)
                }
            }
            Text {
                objectName: "manualText"
                Layout.fillWidth: true
                visible: card.anchor === "manual"
                text: "Fires only by hand: its button in the stage view, TEST here, or a key/footswitch you learn for it (while its section plays)."
                color: Strata.Palette.textDim
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }
            RowLayout {
                objectName: "triggerRow"
                visible: card.anchor === "manual"
                spacing: 6
                Chip {
                    objectName: "momentTriggerChip"
                    readonly property bool listening: card.moment.listening === true
                    readonly property bool hasTrigger: card.moment.hasTrigger === true
                    Layout.maximumWidth: 360
                    text: listening ? "LISTENING\u2026" : hasTrigger ? card.moment.triggerText : "LEARN TRIGGER"
                    iconName: "pianoKeys"
                    accent: listening ? Strata.Palette.gold
                          : hasTrigger ? (card.moment.triggerConnected === true ? Strata.Palette.teal : Strata.Palette.red)
                          : Strata.Palette.textDim
                    outlined: listening || hasTrigger
                    fontSize: hasTrigger && !listening ? 12 : 11
                    help: card.moment.triggerHelp !== undefined ? card.moment.triggerHelp : ""
                    onClicked: card.editor.triggerClicked(card.momentID)
                }
                IconButton {
                    objectName: "clearTriggerButton"
                    visible: card.moment.hasTrigger === true
                    iconName: "minus"
                    hoverAccent: Strata.Palette.red
                    help: "Forget this Moment's trigger"
                    onClicked: card.editor.clearTrigger(card.momentID)
                }
            }
        }

        // ---- Layers ----
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            RowLayout {
                spacing: 10
                Caption {
                    text: "LAYERS"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                Text {
                    objectName: "layersSelected"
                    text: card.moment.selected !== undefined ? card.moment.selected : ""
                    color: Strata.Palette.textDim
                    font.pixelSize: 12
                }
            }
            GridLayout {
                Layout.fillWidth: true
                columns: 2
                columnSpacing: 22
                rowSpacing: 6
                Repeater {
                    model: card.editor.layers
                    RowLayout {
                        id: layerControl
                        required property int index
                        required property var model
                        readonly property var entry: model
                        readonly property int choice: card.moment.states !== undefined ? card.moment.states[index] : 0
                        objectName: "layerControl_" + index
                        Layout.fillWidth: true
                        spacing: 8
                        Text {
                            objectName: "layerName"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 120
                            text: layerControl.entry ? layerControl.entry.name : ""
                            color: layerControl.choice === 0 ? Strata.Palette.textDim : Strata.Palette.text
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                        Segmented {
                            objectName: "layerState"
                            implicitHeight: 26
                            labels: ["\u2013", "IN", "OUT"]
                            accents: [Strata.Palette.textDim, Strata.Palette.teal, Strata.Palette.red]
                            segmentPadding: 9
                            fontSize: 10
                            currentIndex: layerControl.choice
                            onActivated: index => card.editor.setLayerState(card.momentID, layerControl.entry.id, index)
                        }
                        Chip {
                            objectName: "soloButton"
                            text: "SOLO"
                            fontSize: 10
                            implicitHeight: 22
                            accent: Strata.Palette.gold
                            help: "Only this layer plays in this Moment \u2014 sets it IN and mutes all others OUT."
                            onClicked: card.editor.solo(card.momentID, layerControl.entry.id)
                        }
                    }
                }
            }
        }

        // ---- Patch and CC messages ----
        AbstractButton {
            id: disclosure
            objectName: "advancedToggle"
            Layout.fillWidth: true
            implicitHeight: 24
            hoverEnabled: true
            focusPolicy: Qt.NoFocus
            onClicked: card.advancedOpen = !card.advancedOpen
            contentItem: RowLayout {
                spacing: 8
                Icon {
                    name: card.advancedOpen ? "chevronDown" : "chevronRight"
                    width: 11
                    height: 11
                    color: Strata.Palette.textDim
                }
                Caption {
                    text: "ADVANCED \u00B7 PATCH / CC"
                    font.pixelSize: Strata.Palette.smallLabelSize
                    color: disclosure.hovered ? Strata.Palette.text : Strata.Palette.textDim
                }
                Text {
                    visible: !card.advancedOpen && (card.patches.length + card.ccs.length) > 0
                    text: card.patches.length + card.ccs.length
                    color: Strata.Palette.gold
                    font.pixelSize: 12
                    font.weight: Font.Bold
                }
                Item {
                    Layout.fillWidth: true
                }
            }
            background: Item {}
        }

        ColumnLayout {
            objectName: "advanced"
            Layout.fillWidth: true
            Layout.leftMargin: 18
            visible: card.advancedOpen
            spacing: 8

            RowLayout {
                spacing: 10
                Caption {
                    text: "PATCH CHANGES"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                ToolbarButton {
                    objectName: "addPatchButton"
                    implicitHeight: 24
                    text: "+ Patch"
                    onClicked: card.editor.addPatch(card.momentID)
                }
            }
            Repeater {
                model: card.patches.length
                RowLayout {
                    id: patchRow
                    required property int index
                    readonly property var patch: card.patches[index]
                    objectName: "patchRow_" + index
                    spacing: 10
                    PortPicker {
                        objectName: "patchPort"
                        Layout.preferredWidth: 200
                        ports: card.editor.ports
                        port: patchRow.patch ? patchRow.patch.port : ""
                        onPicked: port => card.editor.setPatch(card.momentID, patchRow.patch.id, "port", port)
                    }
                    NumberField {
                        objectName: "patchChannel"
                        label: "Ch"
                        from: 1
                        to: 16
                        value: patchRow.patch ? patchRow.patch.channel : 1
                        onEdited: value => card.editor.setPatch(card.momentID, patchRow.patch.id, "channel", value)
                    }
                    NumberField {
                        objectName: "patchProgram"
                        label: "Prog"
                        value: patchRow.patch ? patchRow.patch.program : 0
                        onEdited: value => card.editor.setPatch(card.momentID, patchRow.patch.id, "program", value)
                    }
                    IconButton {
                        objectName: "removePatchButton"
                        iconName: "minus"
                        hoverAccent: Strata.Palette.red
                        onClicked: card.editor.removePatch(card.momentID, patchRow.patch.id)
                    }
                }
            }

            RowLayout {
                Layout.topMargin: 4
                spacing: 10
                Caption {
                    text: "CC / EFFECT THROWS"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                ToolbarButton {
                    objectName: "addCCButton"
                    implicitHeight: 24
                    text: "+ CC"
                    onClicked: card.editor.addCC(card.momentID)
                }
            }
            Repeater {
                model: card.ccs.length
                RowLayout {
                    id: ccRow
                    required property int index
                    readonly property var send: card.ccs[index]
                    objectName: "ccRow_" + index
                    spacing: 10
                    PortPicker {
                        objectName: "ccPort"
                        Layout.preferredWidth: 200
                        ports: card.editor.ports
                        port: ccRow.send ? ccRow.send.port : ""
                        onPicked: port => card.editor.setCC(card.momentID, ccRow.send.id, "port", port)
                    }
                    NumberField {
                        objectName: "ccChannel"
                        label: "Ch"
                        from: 1
                        to: 16
                        value: ccRow.send ? ccRow.send.channel : 1
                        onEdited: value => card.editor.setCC(card.momentID, ccRow.send.id, "channel", value)
                    }
                    NumberField {
                        objectName: "ccNumber"
                        label: "CC"
                        value: ccRow.send ? ccRow.send.cc : 0
                        onEdited: value => card.editor.setCC(card.momentID, ccRow.send.id, "cc", value)
                    }
                    NumberField {
                        objectName: "ccValue"
                        label: "Val"
                        value: ccRow.send ? ccRow.send.value : 0
                        onEdited: value => card.editor.setCC(card.momentID, ccRow.send.id, "value", value)
                    }
                    IconButton {
                        objectName: "removeCCButton"
                        iconName: "minus"
                        hoverAccent: Strata.Palette.red
                        onClicked: card.editor.removeCC(card.momentID, ccRow.send.id)
                    }
                }
            }
        }
    }
}
