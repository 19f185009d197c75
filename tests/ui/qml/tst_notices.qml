import QtQuick
import QtTest
import Strata.Ui

ViewTestCase {
    name: "Notices"

    // The notice of that kind, or null when none is shown.
    function notice(kind) {
        return findChild(view, "notice_" + kind)
    }
    // Waits for a notice and for the window to make room for it, so that clicks land on it.
    function shown(kind) {
        tryVerify(() => notice(kind) !== null, patience, kind + " shown")
        waitForRendering(view)
        return notice(kind)
    }
    function gone(kind) {
        tryVerify(() => notice(kind) === null, patience, kind + " gone")
        waitForRendering(view)
    }
    function noticeText(kind) {
        return findChild(notice(kind), "noticeText").text
    }
    function stageMark() {
        return find("saveFailingMark")
    }
    // An edit of the set, which the autosave writes 400 ms later.
    function edit(name) {
        view.layerEditor.setName(view.layerEditor.layers.get(0).id, name)
        rig.advance(400)
    }

    function test_aFailingSaveIsShownUntilSavingWorksAgain() {
        verify(!notice("saveFailing"))
        verify(!notice("keptAside"), "a launch whose file reads has nothing to say")
        rig.blockSaving(true)
        edit("Keys")
        shown("saveFailing")
        compare(noticeText("saveFailing"),
                "Changes are not being saved: its folder cannot be used. Strata keeps retrying.")
        verify(findChild(notice("saveFailing"), "noticeDetail").text.length > 0,
               "the technical account is at hand")
        verify(!findChild(notice("saveFailing"), "noticeUndo").visible)
        verify(view.notices.saveFailing)

        // Dismissed, it stays away for the rest of the episode; the stage still shows it.
        mouseClick(findChild(notice("saveFailing"), "noticeDismiss"))
        gone("saveFailing")
        rig.advance(20000)
        verify(!notice("saveFailing"))
        view.appState.setStageMode(true)
        verify(stageMark().visible)
        compare(findChild(stageMark(), "badgeHelp").text,
                "Changes are not being saved: its folder cannot be used. Strata keeps retrying.")

        // The next retry that works saves everything and takes the mark away.
        rig.blockSaving(false)
        rig.advance(5000)
        verify(!view.notices.saveFailing)
        verify(!stageMark().visible)
        view.appState.setStageMode(false)

        // A new episode is shown again, and clears itself once a save works.
        rig.blockSaving(true)
        edit("Piano")
        shown("saveFailing")
        rig.blockSaving(false)
        rig.advance(5000)
        gone("saveFailing")
    }

    function test_anUnreadableFileSaysWhereItWasKept() {
        launch(startSettings, "{ \"name\": \"half a fi")
        shown("keptAside")
        const text = noticeText("keptAside")
        verify(text.startsWith("Your setlist file could not be read and was kept as setlist.unreadable-"), text)
        verify(text.endsWith(".json."), text)
        verify(!findChild(notice("keptAside"), "noticeUndo").visible)
        // The notice sits under the toolbar and pushes the window's content down.
        const bar = find("noticeBar")
        compare(bar.y, find("toolbar").height)
        compare(find("editingLayout").mapToItem(view, 0, 0).y, bar.y + bar.height)

        mouseClick(findChild(notice("keptAside"), "noticeDismiss"))
        gone("keptAside")
        tryCompare(find("noticeBar"), "height", 0, patience)
    }

    function snapshot(names) {
        rig.cueDatagram(JSON.stringify({ type: "SETLIST_SNAPSHOT",
                                         songs: [{ name: "Northern Lights", sections: names }] }))
    }
    function sectionNames() {
        return rig.stored("/songs/0/sections").map(section => section.name)
    }
    readonly property var allSections: ["Intro", "Verse 1", "Chorus", "Verse 2", "Chorus", "Bridge", "Outro"]

    function test_sectionsRemovedByCadenzoComeBackWithUndo() {
        snapshot(["Intro", "Verse 1", "Chorus", "Verse 2", "Chorus", "Bridge", "Outro"])
        verify(!notice("sectionsDropped"), "nothing removed, nothing to say")

        snapshot(["Intro", "Verse 1", "Chorus"])
        compare(sectionNames(), ["Intro", "Verse 1", "Chorus"])
        shown("sectionsDropped")
        compare(noticeText("sectionsDropped"),
                "Cadenzo removed sections \u201CVerse 2\u201D, \u201CChorus\u201D, \u201CBridge\u201D and \u201COutro\u201D from \u201CNorthern Lights\u201D. Undo restores them.")
        const undo = findChild(notice("sectionsDropped"), "noticeUndo")
        verify(undo.visible)
        mouseClick(undo)
        rig.settle()
        compare(sectionNames(), allSections)
        gone("sectionsDropped")

        // Undone from the Edit menu instead, the notice goes by itself.
        snapshot(["Intro", "Verse 1", "Chorus", "Verse 2", "Chorus", "Bridge"])
        shown("sectionsDropped")
        compare(noticeText("sectionsDropped"),
                "Cadenzo removed section \u201COutro\u201D from \u201CNorthern Lights\u201D. Undo restores it.")
        keyClick(Qt.Key_Z, Qt.ControlModifier)
        rig.settle()
        compare(sectionNames(), allSections)
        gone("sectionsDropped")

        // Dismissed, the sections stay as Cadenzo left them.
        snapshot(["Intro"])
        shown("sectionsDropped")
        mouseClick(findChild(notice("sectionsDropped"), "noticeDismiss"))
        gone("sectionsDropped")
        compare(sectionNames(), ["Intro"])
    }

    // The names on the stage's pills that show, left to right.
    function stagePills() {
        const pills = find("stagePills").children
        const names = []
        for (let i = 0; i < pills.length; ++i)
            if (pills[i].objectName === "stagePill" && pills[i].visible)
                names.push(pills[i].name)
        return names
    }

    function test_allOnEndsAMomentAndShowsInTheGridAndOnStageUntilTheNextChange() {
        // The intro plays the piano alone; a Moment takes it out, and the surface settles.
        view.live.setControlMode("mackieControl")
        rig.fireMoment()
        rig.advance(1000)
        verify(view.appState.momentActive)
        // On stage, the row the Moment left empty reads silent.
        view.appState.setStageMode(true)
        compare(find("stageSilent").text, "SILENT")
        verify(find("stageSilent").visible && !find("stagePills").visible)
        verify(find("momentBadge").visible)
        view.appState.setStageMode(false)
        // What the DAW hears of ALL ON is the coordinator's (its ALL ON test).
        click("allOnButton")
        rig.settle()
        verify(!view.appState.momentActive)
        // Ending the Moment brings the step's own mix back; from the step's mix ALL ON holds
        // until the next change.
        click("allOnButton")
        rig.settle()
        verify(view.notices.allOn)
        verify(findChild(find("section_0"), "allOnTag").visible)
        verify(!findChild(find("section_1"), "allOnTag").visible)
        for (let i = 0; i < 6; ++i) {
            const cell = findChild(find("row_0_0"), "cell_" + i)
            verify(cell.sounding, "layer " + i + " sounds")
            compare(cell.isOn, i === 0, "the step itself is unchanged")
        }
        verify(!findChild(find("row_1_0"), "cell_2").sounding, "other sections show their own mix")

        view.appState.setStageMode(true)
        verify(find("allOnBadge").visible)
        verify(!find("momentBadge").visible)
        compare(stagePills(), ["Piano", "Poly", "Pad", "Lead", "Strings", "Choir"])

        // The next section puts its own mix back.
        keyClick(Qt.Key_Right)
        rig.settle()
        verify(!view.notices.allOn)
        verify(!find("allOnBadge").visible)
        compare(stagePills(), ["Piano", "Poly", "Lead", "Choir"])
        view.appState.setStageMode(false)
        verify(!findChild(find("section_1"), "allOnTag").visible)
        verify(!findChild(find("row_1_0"), "cell_2").sounding)
    }
}
