import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The performance display: where we are, what comes next, what sounds, and a button for each
// Moment of this section that fires by hand. Readable from across a stage; a click anywhere but
// on a Moment's button leaves it.
Rectangle {
    id: stage

    required property AppStateModel appState
    required property LiveMomentsModel liveMoments
    required property bool midiAvailable
    required property NoticesModel notices
    // How many layers sound: every driven one while ALL ON holds the DAW, else the section's mix.
    readonly property int soundingCount: notices.allOn ? appState.layers.count
                                                       : appState.playingLayers.length
    // Less room: the same information, smaller.
    property bool compact: height < 560

    readonly property real k: compact ? 0.62 : 1.0

    color: Strata.Palette.bg0

    TapHandler {
        onTapped: stage.appState.setStageMode(false)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 48 * stage.k
        spacing: 0

        // Song line and Moment badge.
        RowLayout {
            Layout.fillWidth: true
            spacing: 16

            Text {
                objectName: "stageSong"
                Layout.fillWidth: true
                text: stage.appState.songName.length > 0
                      ? ("%1 \u00B7 %2").arg(String(stage.appState.songIndex + 1).padStart(2, "0"))
                                         .arg(stage.appState.songName.toUpperCase())
                      : ""
                color: Strata.Palette.textDim
                font.pixelSize: 26 * stage.k
                font.weight: Font.DemiBold
                font.letterSpacing: 3 * stage.k
                elide: Text.ElideRight
            }

            Rectangle {
                id: badge
                objectName: "momentBadge"
                visible: stage.appState.momentActive
                implicitWidth: badgeRow.implicitWidth + 28 * stage.k
                implicitHeight: 40 * stage.k
                radius: height / 2
                color: Strata.Palette.alpha(Strata.Palette.gold, 0.16)
                border.color: Strata.Palette.gold
                border.width: 2

                Row {
                    id: badgeRow
                    anchors.centerIn: parent
                    spacing: 8
                    Icon {
                        name: "sparkle"
                        color: Strata.Palette.gold
                        width: 18 * stage.k
                        height: width
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        text: "MOMENT"
                        color: Strata.Palette.gold
                        font.pixelSize: 17 * stage.k
                        font.weight: Font.Bold
                        font.letterSpacing: 3 * stage.k
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
                HoverHandler {
                    id: badgeHover
                }
                HoverHelp {
                    objectName: "momentHelp"
                    shown: badgeHover.hovered
                    text: "A Moment is overriding the live mix. Hit ALL ON or change section to clear it."
                }
            }

            Badge {
                objectName: "allOnBadge"
                visible: stage.notices.allOn
                iconName: "speaker"
                label: "ALL ON"
                accent: Strata.Palette.gold
                help: "ALL ON: every layer sounds in the DAW. The next change puts the section's mix back."
            }

            // Small, but not to be missed: the set is not reaching the disk.
            Badge {
                objectName: "saveFailingMark"
                visible: stage.notices.saveFailing
                iconName: "warning"
                label: "NOT SAVED"
                accent: Strata.Palette.red
                filled: true
                help: stage.notices.saveFailureText
            }
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 8
        }

        // NOW
        Heading {
            text: "NOW"
            color: Strata.Palette.teal
        }
        Text {
            objectName: "stageNow"
            Layout.fillWidth: true
            text: stage.appState.hasSection ? stage.appState.sectionName : "\u2014"
            color: Strata.Palette.text
            font.pixelSize: 150 * stage.k
            font.weight: Font.Bold
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 40
            elide: Text.ElideRight
            maximumLineCount: 1
        }
        Text {
            objectName: "stageStep"
            visible: stage.appState.isPro && stage.appState.stepCount > 1
            text: ("STEP %1 / %2").arg(stage.appState.stepIndex + 1).arg(stage.appState.stepCount)
            color: Strata.Palette.gold
            font.pixelSize: 22 * stage.k
            font.weight: Font.DemiBold
            font.letterSpacing: 3 * stage.k
        }

        Item {
            Layout.preferredHeight: 36 * stage.k
        }

        // NEXT
        Heading {
            text: "NEXT"
            color: Strata.Palette.textDim
        }
        Text {
            objectName: "stageNext"
            Layout.fillWidth: true
            text: stage.appState.hasNextSection ? stage.appState.nextSectionName : "\u2014 END"
            color: stage.appState.hasNextSection ? Strata.Palette.textDim : Strata.Palette.alpha(Strata.Palette.textDim, 0.7)
            font.pixelSize: 64 * stage.k
            font.weight: Font.DemiBold
            elide: Text.ElideRight
            maximumLineCount: 1
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 8
        }

        // The Moments the performer fires by hand, through the same path as the editor's TEST.
        Heading {
            objectName: "stageMomentsHeading"
            visible: stage.liveMoments.moments.count > 0
            text: "MOMENTS"
            color: Strata.Palette.gold
            Layout.bottomMargin: 10 * stage.k
        }
        Flow {
            objectName: "stageMoments"
            Layout.fillWidth: true
            Layout.bottomMargin: 28 * stage.k
            spacing: 12 * stage.k
            visible: stage.liveMoments.moments.count > 0

            Repeater {
                // Row by row: a button stays put (and keeps its press) while its Moment changes,
                // as it does when it fires.
                model: stage.liveMoments.moments
                AbstractButton {
                    id: momentButton
                    required property int index
                    required property var model
                    readonly property var entry: model
                    objectName: "stageMoment_" + index
                    readonly property bool offline: entry.hasTrigger === true && entry.connected !== true
                    implicitWidth: Math.max(nameText.implicitWidth, triggerText.implicitWidth)
                                   + 44 * stage.k
                    implicitHeight: 74 * stage.k
                    hoverEnabled: true
                    focusPolicy: Qt.NoFocus
                    onClicked: if (entry.id !== undefined) stage.liveMoments.fire(entry.id)

                    background: Rectangle {
                        radius: 14 * stage.k
                        color: Strata.Palette.alpha(Strata.Palette.gold,
                                                    momentButton.down ? 0.38 : momentButton.hovered ? 0.24 : 0.12)
                        border.color: momentButton.entry.fired === true ? Strata.Palette.alpha(Strata.Palette.gold, 0.45)
                                                                   : Strata.Palette.gold
                        border.width: 2
                    }
                    contentItem: Item {
                        Column {
                            anchors.centerIn: parent
                            spacing: 4 * stage.k
                            Row {
                                anchors.horizontalCenter: parent.horizontalCenter
                                spacing: 8 * stage.k
                                Icon {
                                    objectName: "firedMark"
                                    visible: momentButton.entry.fired === true
                                    name: "check"
                                    color: Strata.Palette.gold
                                    width: 18 * stage.k
                                    height: width
                                    anchors.verticalCenter: parent.verticalCenter
                                }
                                Text {
                                    id: nameText
                                    objectName: "momentName"
                                    text: momentButton.entry.name
                                    color: Strata.Palette.text
                                    font.pixelSize: 26 * stage.k
                                    font.weight: Font.Bold
                                }
                            }
                            Text {
                                id: triggerText
                                objectName: "momentTrigger"
                                anchors.horizontalCenter: parent.horizontalCenter
                                text: momentButton.entry.hasTrigger !== true ? "TAP TO FIRE"
                                      : momentButton.offline ? "NOT CONNECTED \u00B7 " + momentButton.entry.triggerText
                                      : momentButton.entry.triggerText
                                color: momentButton.offline ? Strata.Palette.red : Strata.Palette.textDim
                                font.pixelSize: Math.max(10, 13 * stage.k)
                                font.weight: Font.DemiBold
                                font.letterSpacing: 1.5 * stage.k
                            }
                        }
                    }
                }
            }
        }

        // What sounds now.
        Heading {
            text: "LAYERS"
            color: Strata.Palette.textDim
            Layout.bottomMargin: 10 * stage.k
        }
        Flow {
            id: pills
            objectName: "stagePills"
            Layout.fillWidth: true
            spacing: 12 * stage.k
            visible: stage.soundingCount > 0

            Repeater {
                // One pill per driven layer, shown while it sounds: a change of section only
                // turns pills on and off.
                model: stage.appState.layers
                Rectangle {
                    required property string name
                    required property bool playing
                    objectName: "stagePill"
                    visible: playing || stage.notices.allOn
                    implicitWidth: pillText.implicitWidth + 40 * stage.k
                    implicitHeight: 54 * stage.k
                    radius: height / 2
                    color: Strata.Palette.alpha(Strata.Palette.teal, 0.14)
                    border.color: Strata.Palette.teal
                    border.width: 2
                    Text {
                        id: pillText
                        anchors.centerIn: parent
                        text: parent.name
                        color: Strata.Palette.text
                        font.pixelSize: 24 * stage.k
                        font.weight: Font.DemiBold
                    }
                }
            }
        }
        Text {
            objectName: "stageSilent"
            visible: stage.soundingCount === 0
            text: "SILENT"
            color: Strata.Palette.textDim
            font.pixelSize: 30 * stage.k
            font.weight: Font.Bold
            font.letterSpacing: 6 * stage.k
            Layout.preferredHeight: 54 * stage.k
            verticalAlignment: Text.AlignVCenter
        }

        Text {
            visible: !stage.midiAvailable
            Layout.topMargin: 16 * stage.k
            text: "MIDI UNAVAILABLE \u2014 nothing reaches the DAW"
            color: Strata.Palette.red
            font.pixelSize: 16 * stage.k
            font.weight: Font.DemiBold
            font.letterSpacing: 1.5
        }
    }

    // A rounded label beside the song line: a symbol, a word, help on hover.
    component Badge: Rectangle {
        id: badgeItem
        property string iconName
        property string label
        property color accent
        property bool filled: false
        property string help
        implicitWidth: badgeContent.implicitWidth + 28 * stage.k
        implicitHeight: 40 * stage.k
        radius: height / 2
        color: filled ? accent : Strata.Palette.alpha(accent, 0.16)
        border.color: accent
        border.width: 2
        Row {
            id: badgeContent
            anchors.centerIn: parent
            spacing: 8
            Icon {
                name: badgeItem.iconName
                color: badgeItem.filled ? Strata.Palette.bg0 : badgeItem.accent
                width: 18 * stage.k
                height: width
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: badgeItem.label
                color: badgeItem.filled ? Strata.Palette.bg0 : badgeItem.accent
                font.pixelSize: 17 * stage.k
                font.weight: Font.Bold
                font.letterSpacing: 3 * stage.k
                anchors.verticalCenter: parent.verticalCenter
            }
        }
        HoverHandler {
            id: badgeItemHover
        }
        HoverHelp {
            objectName: "badgeHelp"
            shown: badgeItemHover.hovered
            text: badgeItem.help
        }
    }

    component Heading: Text {
        font.pixelSize: 18 * stage.k
        font.weight: Font.Bold
        font.letterSpacing: 5 * stage.k
    }
}
