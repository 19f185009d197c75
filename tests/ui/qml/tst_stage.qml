import QtQuick
import QtTest
import Strata.Ui

Item {
    width: 1280
    height: 800
    visible: true

    ViewTestCase {
        name: "StageAndKeys"

        function test_stageShowsNowNextAndTheLayersThatPlay() {
            view.appState.setStageMode(true)
            verify(find("stageView").visible)
            verify(!find("editingLayout").visible)
            compare(find("stageSong").text, "01 \u00B7 NORTHERN LIGHTS")
            compare(find("stageNow").text, "Intro")
            compare(find("stageNext").text, "Verse 1")
            verify(find("stagePills").visible)
            compare(view.appState.playingLayers, ["Piano"])
            verify(!find("stageSilent").visible)

            keyClick(Qt.Key_Right)
            compare(find("stageNow").text, "Verse 1")
            compare(view.appState.playingLayers, ["Piano", "Poly", "Lead", "Choir"])

            for (let i = 0; i < 5; ++i)
                keyClick(Qt.Key_Right)
            compare(find("stageNow").text, "Outro")
            compare(find("stageNext").text, "\u2014 END")
        }

        function test_anEmptyRowReadsSilent() {
            view.appState.setStageMode(true)
            view.live.setPro(false)
            // The intro of the first song plays the piano only; a Moment mutes the piano.
            rig.fireMoment()
            verify(find("stageSilent").visible)
            compare(find("stageSilent").text, "SILENT")
            verify(!find("stagePills").visible)
            verify(find("momentBadge").visible)
            compare(find("momentHelp").text, "A Moment is overriding the live mix. Hit ALL ON or change section to clear it.")
        }

        function test_aClickAnywhereLeavesStageMode() {
            view.appState.setStageMode(true)
            const stage = find("stageView")
            mouseClick(stage, stage.width - 40, stage.height - 40)
            verify(!view.appState.stageMode)
            verify(find("editingLayout").visible)
        }

        function test_ctrlSTogglesStageModeBothWays() {
            keyClick(Qt.Key_S, Qt.ControlModifier)
            verify(view.appState.stageMode)
            keyClick(Qt.Key_S, Qt.ControlModifier)
            verify(!view.appState.stageMode)
            compare(rig.storedSectionIndex(), 0, "no other command on that key")
        }

        function test_arrowKeysMoveThroughSectionsAndSteps() {
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Right)
            compare(rig.storedSectionIndex(), 2)
            keyClick(Qt.Key_Left)
            compare(rig.storedSectionIndex(), 1)

            // Steps need Pro and a section with more than one.
            view.live.setPro(true)
            rig.addStepToCurrentSection()
            keyClick(Qt.Key_Down)
            compare(rig.storedStepIndex(), 1)
            keyClick(Qt.Key_Up)
            compare(rig.storedStepIndex(), 0)
            compare(rig.storedSectionIndex(), 1)
        }
    }
}
