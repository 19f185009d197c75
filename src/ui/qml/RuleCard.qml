import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// One rule of a layer: on or off, what it does to the layer, when in a section, and in which
// sections.
Rectangle {
    id: card

    required property LayerRulesEditorModel editor
    // The rule as the rules editor model shows it.
    property var rule: ({})
    readonly property string ruleID: rule.id !== undefined ? rule.id : ""
    readonly property bool enabledRule: rule.enabled === true
    readonly property string anchor: rule.anchor !== undefined ? rule.anchor : "onSectionEnter"
    readonly property bool allSections: rule.allSections === true

    implicitHeight: content.implicitHeight + 28
    radius: 12
    color: Strata.Palette.bg2
    border.color: enabledRule ? Strata.Palette.border : Strata.Palette.alpha(Strata.Palette.border, 0.5)

    ColumnLayout {
        id: content
        x: 16
        y: 14
        width: parent.width - 32
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Segmented {
                objectName: "enabledToggle"
                implicitHeight: 28
                labels: ["ON", "OFF"]
                accents: [Strata.Palette.teal, Strata.Palette.textDim]
                segmentPadding: 10
                fontSize: 11
                currentIndex: card.enabledRule ? 0 : 1
                onActivated: index => card.editor.setEnabled(card.ruleID, index === 0)
            }
            Item {
                Layout.fillWidth: true
            }
            IconButton {
                objectName: "deleteRuleButton"
                iconName: "trash"
                hoverAccent: Strata.Palette.red
                help: "Delete this rule"
                onClicked: card.editor.deleteRule(card.ruleID)
            }
        }

        // The rest reads as switched off while the rule is.
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 12
            opacity: card.enabledRule ? 1 : 0.5

            RowLayout {
                spacing: 12
                Caption {
                    Layout.preferredWidth: 56
                    text: "DOES"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                Segmented {
                    objectName: "effectPicker"
                    readonly property var effects: ["swellIn", "muteOut"]
                    implicitHeight: 28
                    labels: ["Swell IN", "Mute OUT"]
                    accents: [Strata.Palette.teal, Strata.Palette.red]
                    segmentPadding: 10
                    fontSize: 11
                    currentIndex: Math.max(0, effects.indexOf(card.rule.effect))
                    onActivated: index => card.editor.setEffect(card.ruleID, effects[index])
                }
            }

            RowLayout {
                spacing: 12
                Caption {
                    Layout.preferredWidth: 56
                    text: "WHEN"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                Segmented {
                    objectName: "anchorPicker"
                    readonly property var kinds: ["onSectionEnter", "barsBeforeSectionEnd", "barsAfterStart"]
                    implicitHeight: 28
                    labels: ["On enter", "Last N bars", "After N bars"]
                    accents: [Strata.Palette.gold]
                    segmentPadding: 10
                    fontSize: 11
                    // A rule stored as manual shows no chip chosen.
                    currentIndex: kinds.indexOf(card.anchor)
                    onActivated: index => card.editor.setAnchor(card.ruleID, kinds[index])
                }
                BarStepper {
                    objectName: "barStepper"
                    visible: card.anchor === "barsBeforeSectionEnd" || card.anchor === "barsAfterStart"
                    label: card.anchor === "barsAfterStart" ? "Bars after start:" : "Bars before section end:"
                    value: card.rule.bars !== undefined ? card.rule.bars : 2
                    onMoved: value => card.editor.setBars(card.ruleID, value)
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                Caption {
                    Layout.preferredWidth: 56
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 7
                    text: "WHERE"
                    font.pixelSize: Strata.Palette.smallLabelSize
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    Segmented {
                        objectName: "wherePicker"
                        implicitHeight: 28
                        labels: ["Every section", "Only chosen"]
                        accents: [Strata.Palette.teal]
                        segmentPadding: 10
                        fontSize: 11
                        currentIndex: card.allSections ? 0 : 1
                        onActivated: index => card.editor.setAllSections(card.ruleID, index === 0)
                    }
                    Flow {
                        objectName: "sectionChips"
                        Layout.fillWidth: true
                        spacing: 6
                        // The choice counts only while the rule is not for every section; dimmed until then.
                        opacity: card.allSections ? 0.45 : 1
                        Repeater {
                            model: card.editor.sectionNames
                            Chip {
                                required property int index
                                required property string modelData
                                objectName: "sectionChip_" + index
                                text: modelData.length > 0 ? modelData : "(unnamed)"
                                fontSize: 11
                                accent: Strata.Palette.teal
                                selected: card.rule.chosen !== undefined && card.rule.chosen[index] === true
                                onClicked: card.editor.toggleSection(card.ruleID, modelData)
                            }
                        }
                    }
                    Text {
                        objectName: "noSections"
                        visible: card.editor.sectionNames.length === 0
                        text: "No sections in this song yet."
                        color: Strata.Palette.textDim
                        font.pixelSize: 13
                    }
                }
            }
        }
    }
}
