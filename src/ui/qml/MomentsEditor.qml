import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The Moments of one section: one card each, edited in place. Open while the editor model has a
// section; "Done" (or Escape) closes it. While a trigger is being learned, Escape ends the learn
// and leaves the sheet open.
Sheet {
    id: sheet

    required property MomentsEditorModel editor

    closePolicy: editor.learning ? Popup.NoAutoClose : Popup.CloseOnEscape

    width: Math.min(780, (parent ? parent.width : 900) - 60)
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

        // Inside the sheet: the window's own shortcuts do not reach past a modal sheet.
        Shortcut {
            sequence: "Esc"
            enabled: sheet.opened && sheet.editor.learning
            onActivated: sheet.editor.cancelLearning()
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 22
            Layout.bottomMargin: 14
            spacing: 12
            Text {
                text: "MOMENTS"
                color: Strata.Palette.text
                font.pixelSize: 20
                font.weight: Font.Bold
                font.letterSpacing: 3
            }
            Text {
                objectName: "momentsSectionName"
                Layout.fillWidth: true
                text: sheet.editor.sectionName
                color: Strata.Palette.gold
                font.pixelSize: 17
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            ToolbarButton {
                objectName: "addMomentButton"
                text: "+ MOMENT"
                accent: Strata.Palette.gold
                onClicked: sheet.editor.addMoment()
            }
            PrimaryButton {
                objectName: "momentsDoneButton"
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
            objectName: "momentCards"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 16
            visible: count > 0
            clip: true
            spacing: 12
            boundsBehavior: Flickable.StopAtBounds
            // Row by row: cards stay put (and keep a field's focus) while their Moment changes.
            model: sheet.editor.moments
            ScrollBar.vertical: ScrollBar {
                policy: ScrollBar.AsNeeded
            }
            delegate: MomentCard {
                required property int index
                required property var model
                objectName: "momentCard_" + index
                width: list.width - 12
                editor: sheet.editor
                moment: model
            }
        }

        Item {
            objectName: "noMoments"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: list.count === 0

            Column {
                anchors.centerIn: parent
                spacing: 10
                Icon {
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: "wand"
                    width: 34
                    height: 34
                    color: Strata.Palette.textDim
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No moments yet"
                    color: Strata.Palette.text
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    horizontalAlignment: Text.AlignHCenter
                    text: "Add your own moves on top of the cue \u2014 e.g. swell the pad in\nthe last 2 bars of this section, or a patch change you fire by hand."
                    color: Strata.Palette.textDim
                    font.pixelSize: 14
                    lineHeight: 1.2
                }
                Item {
                    width: 1
                    height: 6
                }
                PrimaryButton {
                    objectName: "addFirstMomentButton"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "+ ADD MOMENT"
                    accent: Strata.Palette.gold
                    onClicked: sheet.editor.addMoment()
                }
            }
        }
    }
}
