import QtQuick
import QtTest
import Strata.Ui

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

    // What the DAW hears of a Moment fired by hand is the Moments editor's TEST (tst_grid).
    function test_handFiredMomentsOfTheSectionHaveButtonsThatFireThem() {
        view.appState.setStageMode(true)
        verify(!find("stageMoments").visible)
        rig.addHandFiredMoment("Lead patch", "FCB1010", 40)
        rig.addHandFiredMoment("")
        verify(find("stageMoments").visible)
        const first = find("stageMoment_0")
        const second = find("stageMoment_1")
        compare(inside(first, "momentName").text, "Lead patch")
        compare(inside(first, "momentTrigger").text, "NOT CONNECTED \u00B7 NOTE 40 \u00B7 FCB1010")
        compare(inside(second, "momentName").text, "Moment 2")
        compare(inside(second, "momentTrigger").text, "TAP TO FIRE")
        rig.pressNote("FCB1010", 41) // plugged in
        compare(inside(first, "momentTrigger").text, "NOTE 40 \u00B7 FCB1010")
        verify(!inside(first, "firedMark").visible)

        waitForRendering(view) // the buttons are laid out for their new texts
        mouseClick(first)
        rig.advance(200)
        verify(view.appState.stageMode, "the button takes the click")
        verify(view.appState.momentActive)
        verify(inside(first, "firedMark").visible)

        keyClick(Qt.Key_Right)
        verify(!find("stageMoments").visible, "only the current section's Moments")
    }

    // The toolbar's button only enters stage mode; Ctrl+S toggles it both ways (S alone is no
    // command); a click anywhere on the stage leaves it.
    function test_stageModeIsEnteredAndLeft() {
        click("stageButton")
        verify(view.appState.stageMode)
        click("stageButton")
        verify(view.appState.stageMode, "the button only enters")
        keyClick(Qt.Key_S, Qt.ControlModifier)
        verify(!view.appState.stageMode)
        keyClick(Qt.Key_S, Qt.ControlModifier)
        verify(view.appState.stageMode)
        keyClick(Qt.Key_S)
        verify(view.appState.stageMode, "S alone is no command")
        compare(view.appState.sectionIndex, 0, "no other command on that key")
        const stage = find("stageView")
        mouseClick(stage, stage.width - 40, stage.height - 40)
        verify(!view.appState.stageMode)
        verify(find("editingLayout").visible)
    }

    // Right and Left through sections are the stage's and the setlist's tests; steps need Pro and
    // a section with more than one.
    function test_arrowKeysMoveThroughSteps() {
        view.live.setPro(true)
        view.grid.addStepToCurrentSection()
        keyClick(Qt.Key_Down)
        compare(view.appState.stepIndex, 1)
        keyClick(Qt.Key_Up)
        compare(view.appState.stepIndex, 0)
        compare(view.appState.sectionIndex, 0)
    }
}
