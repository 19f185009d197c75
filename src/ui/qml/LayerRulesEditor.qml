import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The rules of one layer: Moments it repeats in every (or chosen) section, one card each, edited in
// place. Open while the rules editor model has a layer; "Done" (or Escape) closes it.
Sheet {
    id: sheet

    required property LayerRulesEditorModel editor

    width: Math.min(720, (parent ? parent.width : 900) - 60)
    height: Math.min(Math.max(300, list.contentHeight + 110), (parent ? parent.height : 700) - 60)

    onClosed: if (editor.open) editor.close()
    Connections {
        target: sheet.editor
        function onChanged() { sheet.follow() }
    }
    function follow() {
        if (editor.open && !opened && !visible)
            open()
        else if (!editor.open && visible)
            close()
    }
    Component.onCompleted: follow()

    contentItem: ColumnLayout {
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 22
            Layout.bottomMargin: 14
            spacing: 12
            Text {
                text: "LAYER RULES"
                color: Strata.Palette.text
                font.pixelSize: 20
                font.weight: Font.Bold
                font.letterSpacing: 3
            }
            Text {
                objectName: "rulesLayerName"
                Layout.fillWidth: true
                text: sheet.editor.layerName
                color: Strata.Palette.gold
                font.pixelSize: 17
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            ToolbarButton {
                objectName: "addRuleButton"
                text: "+ RULE"
                accent: Strata.Palette.gold
                onClicked: sheet.editor.addRule()
            }
            PrimaryButton {
                objectName: "rulesDoneButton"
                text: "Done"
                implicitHeight: 32
                onClicked: sheet.close()
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Strata.Palette.border
        }

        ListView {
            id: list
            objectName: "ruleCards"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 16
            visible: count > 0
            clip: true
            spacing: 12
            boundsBehavior: Flickable.StopAtBounds
            // Row by row: cards stay put while their rule changes.
            model: sheet.editor.rules
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }
            delegate: RuleCard {
                required property int index
                required property var model
                objectName: "ruleCard_" + index
                width: list.width - 12
                editor: sheet.editor
                rule: model
            }
        }

        Item {
            objectName: "noRules"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: list.count === 0

            Column {
                anchors.centerIn: parent
                spacing: 12
                Icon {
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: "repeat"
                    width: 34
                    height: 34
                    color: Strata.Palette.textDim
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No rules yet"
                    color: Strata.Palette.text
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                }
                PrimaryButton {
                    objectName: "addFirstRuleButton"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "+ ADD RULE"
                    accent: Strata.Palette.gold
                    onClicked: sheet.editor.addRule()
                }
            }
        }
    }
}
