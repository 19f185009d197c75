import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// The performer's controls across the top of the window.
Rectangle {
    id: toolbar

    required property AppStateModel appState
    required property MidiModel midi
    required property CueModel cue
    required property LiveControls live
    required property ShellModel shell

    // "Band Remote…" was chosen.
    signal remoteRequested()

    implicitHeight: 56
    color: Strata.Palette.bg1

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Strata.Palette.border
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 6

        Segmented {
            objectName: "modeSwitch"
            labels: ["ESSENTIALS", "PRO"]
            accents: [Strata.Palette.teal, Strata.Palette.gold]
            currentIndex: toolbar.appState.isPro ? 1 : 0
            segmentPadding: 9
            help: "Essentials: 8 layers, one Mackie surface, no steps. Pro: 16 layers + extender + steps. Switching keeps all your data."
            onActivated: index => toolbar.live.setPro(index === 1)
        }

        ToolbarButton {
            objectName: "allOnButton"
            text: "ALL ON"
            iconName: "speaker"
            accent: Strata.Palette.gold
            outlined: true
            help: "Panic \u2014 un-mute every layer immediately in the DAW."
            onClicked: toolbar.live.allOn()
        }

        TriggerControl {
            objectName: "triggerControl"
            midi: toolbar.midi
            Layout.fillWidth: true
            Layout.minimumWidth: 118
            Layout.maximumWidth: implicitWidth
        }

        Item {
            Layout.fillWidth: true
            Layout.preferredWidth: 40
            Layout.minimumWidth: 4
        }

        CueIndicator {
            objectName: "cueIndicator"
            cue: toolbar.cue
            Layout.fillWidth: true
            Layout.minimumWidth: 96
            Layout.maximumWidth: implicitWidth
        }

        ActivityLights {
            objectName: "activityLights"
            midi: toolbar.midi
            mackieMode: toolbar.appState.mackieMode
        }

        ControlModeMenu {
            objectName: "controlModeMenu"
            appState: toolbar.appState
            midi: toolbar.midi
            live: toolbar.live
            cue: toolbar.cue
        }

        BankStepper {
            objectName: "bankStepper"
            appState: toolbar.appState
            live: toolbar.live
            visible: toolbar.appState.mackieMode
        }

        ToolbarButton {
            id: helpButton
            objectName: "helpButton"
            iconName: "question"
            accent: Strata.Palette.textDim
            implicitWidth: 34
            help: "Quick Start + MIDI setup guide"
            onClicked: helpMenu.popup(helpButton, helpButton.width - helpMenu.width,
                                      helpButton.height + 6)

            DarkMenu {
                id: helpMenu
                objectName: "helpMenu"
                implicitWidth: 210
                DarkMenuItem {
                    objectName: "quickStartItem"
                    text: "Quick Start"
                    onTriggered: toolbar.shell.showQuickStart = true
                }
                DarkMenuItem {
                    objectName: "setupGuideItem"
                    text: "MIDI Setup Guide"
                    onTriggered: toolbar.shell.showSetup = true
                }
                DarkMenuItem {
                    objectName: "bandRemoteItem"
                    text: "Band Remote…"
                    onTriggered: toolbar.remoteRequested()
                }
            }
        }

        ToolbarButton {
            objectName: "stageButton"
            text: "Stage"
            iconName: "screen"
            accent: Strata.Palette.text
            onClicked: toolbar.appState.setStageMode(true)
        }
    }
}
