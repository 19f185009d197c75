import QtQuick
import QtTest
import Strata.Ui

ViewTestCase {
    name: "Sheets"

    function sheetOpen(name) {
        return find(name).opened
    }

    // The first launch shows the chooser; Continue leads into the setup guide, Escape does not.
    function test_firstLaunchShowsTheChooser_data() {
        return [ { tag: "Continue", guide: true }, { tag: "Escape", guide: false } ]
    }
    function test_firstLaunchShowsTheChooser(data) {
        launch({})
        view.shell.mainViewAppeared()
        tryVerify(() => sheetOpen("modeChooser"))
        if (data.guide) {
            compare(find("selectedText").text, "Selected: Essentials")
            click("proCard")
            verify(view.appState.isPro)
            compare(find("selectedText").text, "Selected: Pro")
            click("continueButton")
        } else {
            keyClick(Qt.Key_Escape)
        }
        tryVerify(() => !sheetOpen("modeChooser"))
        rig.settle()
        if (data.guide)
            tryVerify(() => sheetOpen("setupGuide"))
        compare(view.shell.showSetup, data.guide)
        compare(sheetOpen("setupGuide"), data.guide)
    }

    function test_checkboxStoresDontShowAtStartup() {
        view.shell.showModeChooser = true
        tryVerify(() => sheetOpen("modeChooser"))
        const box = find("dontShowCheckBox")
        verify(box.checked, "this launch had the chooser turned off")
        mouseClick(box)
        compare(rig.boolSetting("showModeChooserAtStartup"), true)
        mouseClick(box)
        compare(rig.boolSetting("showModeChooserAtStartup"), false)
    }

    // Which sheet the stored first-run flags bring up when the window first appears, and
    // what is stored then. Absent keys are left out; a text value is what an INI file gives.
    function test_firstRunFlagsChooseTheSheet_data() {
        return [
            { tag: "first launch ever", stored: {}, chooser: true, quickStart: false, seen: undefined },
            { tag: "chooser switched off", stored: { "showModeChooserAtStartup": false },
              chooser: false, quickStart: true, seen: true },
            { tag: "later launches", stored: { "showModeChooserAtStartup": false, "hasSeenQuickStart": true },
              chooser: false, quickStart: false, seen: true },
            { tag: "chooser on, quick start seen", stored: { "showModeChooserAtStartup": true, "hasSeenQuickStart": true },
              chooser: true, quickStart: false, seen: true },
            { tag: "chooser off stored as INI text", stored: { "showModeChooserAtStartup": "false", "hasSeenQuickStart": false },
              chooser: false, quickStart: true, seen: true },
            { tag: "a value of the wrong type counts as true", stored: { "showModeChooserAtStartup": "maybe", "hasSeenQuickStart": false },
              chooser: true, quickStart: false, seen: false },
        ]
    }
    function test_firstRunFlagsChooseTheSheet(data) {
        launch(data.stored)
        view.shell.mainViewAppeared()
        compare(view.shell.showModeChooser, data.chooser)
        compare(rig.boolSetting("hasSeenQuickStart"), data.seen)
        // The quick start comes 400 ms after the window appears.
        rig.advance(399)
        verify(!view.shell.showQuickStart)
        rig.advance(1)
        compare(view.shell.showQuickStart, data.quickStart)
        if (data.quickStart)
            tryVerify(() => sheetOpen("quickStartSheet"))
        verify(!view.shell.showSetup)

        // Appearing again (the window shown once more) offers nothing new.
        view.shell.showQuickStart = false
        view.shell.mainViewAppeared()
        rig.advance(1000)
        verify(!view.shell.showQuickStart)
    }

    function test_quickStartButtonsPerPage() {
        view.shell.showQuickStart = true
        tryVerify(() => sheetOpen("quickStartSheet"))
        const back = find("backButton"), skip = find("skipButton"), forward = find("forwardButton")
        const titles = []
        for (let page = 0; page < 5; ++page) {
            titles.push(find("cardTitle").text)
            verify(skip.visible)
            compare(back.visible, page > 0, "Back on page " + page)
            compare(forward.text, page === 4 ? "Start playing" : "Next")
            if (page < 4)
                mouseClick(forward)
        }
        compare(new Set(titles).size, 5, "five different cards")
        mouseClick(back)
        compare(find("cardTitle").text, titles[3])
        mouseClick(forward)
        mouseClick(forward)
        tryVerify(() => !sheetOpen("quickStartSheet"))
        verify(!view.shell.showQuickStart)

        // Every opening starts at the first card; Skip closes at once.
        view.shell.showQuickStart = true
        tryVerify(() => sheetOpen("quickStartSheet"))
        compare(find("cardTitle").text, titles[0])
        mouseClick(skip)
        tryVerify(() => !sheetOpen("quickStartSheet"))
    }

    function stepTitles() {
        return view.guide.steps.map(step => step.title)
    }

    // The rows show the model's steps, numbered from 1.
    function rowsShowTheSteps() {
        const steps = view.guide.steps
        for (let i = 0; i < steps.length; ++i) {
            const row = find("stepRow_" + (i + 1))
            compare(findChild(row, "stepTitle").text, steps[i].title)
            compare(findChild(row, "stepDetail").text, steps[i].detail)
        }
    }

    function test_setupGuidePickersChooseTheSteps() {
        view.shell.showSetup = true
        tryVerify(() => sheetOpen("setupGuide"))
        compare(find("guideHeading").text, "CC Mute")

        click("segment_MainStage")
        click("segment_Mackie")
        compare(find("guideHeading").text, "Mackie")
        verify(stepTitles()[0].includes("MainStage"), stepTitles()[0])
        rowsShowTheSteps()
        // The steps name the ports of the MIDI system that runs.
        verify(view.guide.steps.some(step => step.detail.includes("\"Strata XT\"")))
        view.guide.host = 7
        verify(stepTitles()[0].includes("MainStage"), "a host out of range is ignored")

        click("segment_Ardour")
        verify(stepTitles()[0].includes("Ardour"), stepTitles()[0])
        click("segment_CC Mute")
        rowsShowTheSteps()
        verify(view.guide.closingLine.includes("Ardour"), view.guide.closingLine)
        click("segment_Mackie")
        compare(view.appState.isPro, false, "the guide changes no setting")
        compare(rig.stored("/controlMode"), undefined)

        // The sheet is modal: the keys of the "Section" menu wait until it is closed.
        keyClick(Qt.Key_Right)
        compare(view.appState.sectionIndex, 0)

        click("doneButton")
        tryVerify(() => !sheetOpen("setupGuide"))
        verify(!view.shell.showSetup)

        view.shell.showSetup = true
        tryVerify(() => sheetOpen("setupGuide"))
        compare(find("guideHeading").text, "CC Mute", "each opening starts at Logic Pro / CC Mute")
        compare(view.guide.hostLabel, "Logic Pro")
    }
}
