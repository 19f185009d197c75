import QtQuick
import QtTest
import Strata.Ui

ViewTestCase {
    name: "SectionGrid"

    function badge(section, step) {
        return inside("row_" + section + "_" + step, "stepBadge")
    }
    // Rows and cards made for new steps, Moments or rules are laid out on the next frame.
    function laidOut() {
        rig.settle()
        waitForRendering(view)
    }
    // Right-clicks a row and waits for its menu to be laid out.
    function rowMenu(name, item) {
        mouseClick(item || find(name), 4, 4, Qt.RightButton)
        tryVerify(() => find("rowMenu").opened)
        waitForRendering(view)
    }
    function goPro() {
        click("segment_PRO")
        rig.settle()
        verify(view.appState.isPro)
    }

    // Opens the intro's Moments editor, adds a first Moment and returns its card.
    function firstMomentCard() {
        mouseClick(inside("section_0", "momentsChip"))
        tryVerify(() => findChild(view, "momentsEditor").opened)
        click("addFirstMomentButton")
        laidOut()
        return find("momentCard_0")
    }

    // Gives the demo song `count` sections in all.
    function lengthenSong(count) {
        while (view.grid.sections.count < count)
            view.grid.addSection()
        laidOut()
    }
    // Whether the block of `section` exists and lies wholly inside the grid's view.
    function inSight(section) {
        const body = find("sectionsView")
        const block = findChild(body, "section_" + section)
        return block !== null && block.y >= body.contentY - 0.5
               && block.y + block.height <= body.contentY + body.height + 0.5
    }

    function test_aLongSongShowsTheCurrentSectionAndTheRowMenuOfOneFarDown() {
        lengthenSong(60)
        const body = find("sectionsView")
        // Each move starts where the one before it left the view.
        const moves = [
            { tag: "far down", to: 45, scrolls: true },
            { tag: "one up, already in sight", to: 44, scrolls: false },
            { tag: "the last", to: 59, scrolls: true },
            { tag: "back to the top", to: 0, scrolls: true },
            { tag: "the next, already in sight", to: 1, scrolls: false },
        ]
        for (const move of moves) {
            const before = body.contentY
            view.grid.selectRow(move.to, 0)
            tryVerify(() => inSight(move.to), patience, move.tag + ": in sight")
            verify(find("section_" + move.to).isCurrent, move.tag)
            if (move.scrolls)
                verify(body.contentY !== before, move.tag + ": the view moved")
            else
                compare(body.contentY, before, move.tag + ": the view stayed")
        }
        // Blocks far from the view are not kept.
        tryVerify(() => findChild(body, "section_40") === null, patience)

        // The row menu of a section far down follows its edits.
        goPro()
        view.grid.addStep(50)
        view.grid.selectRow(50, 1)
        tryVerify(() => inSight(50))
        waitForRendering(view)
        rowMenu("row_50_1")
        const deleteStep = find("deleteStepItem")
        verify(deleteStep.enabled, "the section has two steps")
        verify(find("moveSectionDownItem").enabled)
        mouseClick(deleteStep)
        laidOut()
        compare(view.grid.sections.get(50).rows.length, 1)
        rowMenu("row_50_0")
        verify(!find("deleteStepItem").enabled, "the last step stays")
        keyClick(Qt.Key_Escape)
    }

    function test_rowTapSelectsAndAddStepBelowAppends() {
        goPro()
        view.grid.addStep(2)
        view.grid.addStep(2)
        laidOut()
        compare(view.grid.currentSection, 0)
        // A change of section resets the step; the row's step is set after it.
        mouseClick(find("row_2_2"), 4, 4)
        compare(view.grid.currentSection, 2)
        compare(view.grid.currentStep, 2)
        verify(find("row_2_2").isCurrent)
        verify(!find("row_0_0").isCurrent)
        view.grid.selectRow(2, 9) // no such step: nothing moves
        compare(view.grid.currentStep, 2)

        // The first step plays everything but the first layer; a step added below the first
        // goes to the end.
        mouseClick(inside("row_2_0", "cell_0"))
        rowMenu("row_2_0")
        mouseClick(find("addStepBelowItem"))
        laidOut()
        compare(view.grid.sections.get(2).rows.length, 4)
        verify(!view.grid.sections.get(2).rows[0].cells[0], "the first step stays first")
        verify(find("row_2_3").visible)
    }

    function test_rowMenuRulesForSteps() {
        goPro()
        view.grid.addStepToCurrentSection()
        laidOut()
        // A badge click cycles (the cycle itself is the editor texts' table); a plain last step
        // holds and takes no click.
        mouseClick(badge(0, 0))
        compare(badge(0, 0).text, "2 bars \u2192")
        mouseClick(badge(0, 1))
        compare(badge(0, 1).text, "hold")
        compare(view.grid.sections.get(0).rows[1].badge, "hold")

        rowMenu("row_0_0")
        verify(!find("momentaryItem").visible, "never for the first step")
        verify(!find("moveSectionUpItem").enabled)
        verify(find("moveSectionDownItem").enabled)
        keyClick(Qt.Key_Escape)
        tryVerify(() => !find("rowMenu").visible)

        // Also from a cell, which a right-click does not toggle.
        const cell = inside("row_0_1", "cell_0")
        const wasOn = cell.isOn
        rowMenu("", cell)
        compare(cell.isOn, wasOn)
        const momentary = find("momentaryItem")
        verify(momentary.visible)
        compare(momentary.text, "Momentary (return to main)")
        mouseClick(momentary)
        compare(badge(0, 1).text, "hold")
        verify(view.grid.sections.get(0).rows[1].momentary)
        verify(badge(0, 1).clickable, "a momentary last step cycles")
        mouseClick(badge(0, 1))
        compare(badge(0, 1).text, "2 bars \u21A9")

        rowMenu("row_0_1")
        compare(find("momentaryItem").text, "\u2713 Momentary (returns to main)")
        keyClick(Qt.Key_Escape)
    }

    function test_essentialsWithTwelveLayersShowsEightColumnsAndNoAddAndDeleteDropsAColumn() {
        goPro()
        const add = find("addLayerButton")
        for (let i = 0; i < 6; ++i)
            mouseClick(add)
        compare(view.layerEditor.layers.count, 12)
        compare(view.grid.columns.count, 12)
        verify(add.visible)

        click("segment_ESSENTIALS")
        compare(view.grid.columns.count, 8)
        compare(find("row_0_0").step.cells.length, 8)
        verify(find("header_7"))
        verify(!findChild(find("columnHeaders"), "header_8"))
        verify(!add.visible)
        verify(!find("addStepButton").visible)
        verify(!find("stepButtons").visible)
        // The intro plays the piano and the new layers; Essentials drives only the first eight.
        compare(view.appState.playingLayers.length, 3)
        view.grid.editMoments(0)
        compare(view.grid.momentsEditor.layers.count, 8)
        view.grid.momentsEditor.close()
        tryVerify(() => !findChild(view, "momentsEditor").visible)

        goPro()
        compare(view.grid.columns.count, 12)
        compare(view.appState.playingLayers.length, 7)
        verify(add.visible)

        const name = view.grid.columns.get(2).name
        mouseClick(inside("layerRow_2", "deleteLayerButton"))
        compare(view.grid.columns.count, 11)
        for (let i = 0; i < view.grid.columns.count; ++i)
            verify(view.grid.columns.get(i).name !== name)
    }

    function test_jumpTriggerChipStates() {
        const chip = inside("section_1", "jumpChip")
        compare(chip.text, "LEARN")
        mouseClick(chip)
        compare(chip.text, "LISTENING\u2026")
        compare(inside("section_2", "jumpChip").text, "LEARN")
        keyClick(Qt.Key_Escape)
        compare(chip.text, "LEARN", "Escape leaves the learn")
        verify(!view.midi.learning)
        mouseClick(chip)
        rig.pressNote("FCB1010", 60)
        compare(chip.text, "Jumps here from FCB1010 N 60")
        verify(chip.help.endsWith(". Click to re-learn."))
        // A second click while listening takes the learning back and keeps the old trigger.
        mouseClick(chip)
        compare(chip.text, "LISTENING\u2026")
        mouseClick(chip)
        verify(!view.midi.learning)
        compare(chip.text, "Jumps here from FCB1010 N 60")

        mouseClick(chip, chip.width / 2, chip.height / 2, Qt.RightButton)
        compare(chip.text, "Jumps here from FCB1010 N 60", "a right-click does not learn")
        const menu = inside(chip, "jumpMenu")
        tryVerify(() => menu.opened)
        waitForRendering(view)
        mouseClick(inside(menu, "clearJumpItem"))
        compare(chip.text, "LEARN")
    }

    function test_momentsEditorSoloAndSummary() {
        const card = firstMomentCard()
        const sheet = findChild(view, "momentsEditor")
        compare(find("momentsSectionName").text, "Intro")
        compare(inside(card, "momentSummary").text, "Fires 2 bars before this section ends.")
        compare(inside(card, "layersSelected").text, "none selected")

        mouseClick(inside(inside(card, "layerControl_1"), "soloButton"))
        const m = view.grid.momentsEditor.moments.get(0)
        compare(m.states, [2, 1, 2, 2, 2, 2])
        compare(inside(card, "layersSelected").text, "6 selected")
        compare(inside(card, "momentSummary").text, "Fires 2 bars before this section ends \u2014 swell "
                + "Poly in, mute Piano, Pad, Lead, Strings, Choir out.")
        // Choosing a state takes the layer out of the other set first.
        const editor = view.grid.momentsEditor
        editor.setLayerState(m.id, editor.layers.get(0).id, 1)
        compare(editor.moments.get(0).states, [1, 1, 2, 2, 2, 2])
        editor.setLayerState(m.id, editor.layers.get(0).id, 0)
        compare(editor.moments.get(0).states, [0, 1, 2, 2, 2, 2])
        compare(inside(card, "layersSelected").text, "5 selected")

        click("momentsDoneButton")
        tryVerify(() => !sheet.visible)
        compare(inside("section_0", "momentsChip").count, 1)
    }

    function test_aHandFiredMomentLearnsItsTriggerAndEscapeLeavesTheLearnNotTheSheet() {
        const card = firstMomentCard()
        const sheet = findChild(view, "momentsEditor")
        verify(!inside(card, "triggerRow").visible, "a bar-timed Moment has no trigger")
        mouseClick(inside(inside(card, "anchorPicker"), "segment_Manual"))
        verify(inside(card, "triggerRow").visible)
        const chip = inside(card, "momentTriggerChip")
        compare(chip.text, "LEARN TRIGGER")
        verify(!inside(card, "clearTriggerButton").visible)

        mouseClick(chip)
        compare(chip.text, "LISTENING\u2026")
        keyClick(Qt.Key_Escape)
        compare(chip.text, "LEARN TRIGGER")
        verify(sheet.opened, "Escape ended the learn, not the sheet")

        mouseClick(chip)
        rig.pressNote("FCB1010", 40)
        compare(chip.text, "Fires from FCB1010 N 40")
        verify(chip.help.endsWith("while its section plays. Click to re-learn."))
        rig.unplug("FCB1010")
        verify(chip.help.indexOf("Not connected: FCB1010 is not plugged in") > 0)
        mouseClick(inside(card, "clearTriggerButton"))
        compare(chip.text, "LEARN TRIGGER")

        keyClick(Qt.Key_Escape)
        tryVerify(() => !sheet.visible, 1000, "without a learn, Escape closes the sheet")
    }

    function test_ruleAnchorSwitchingKeepsTheBarCount() {
        goPro()
        mouseClick(inside("layerRow_0", "rulesButton"))
        const sheet = findChild(view, "rulesEditor")
        tryVerify(() => sheet.opened)
        verify(find("noRules").visible)
        click("addFirstRuleButton")
        laidOut()
        const card = find("ruleCard_0")
        compare(card.rule.anchor, "barsBeforeSectionEnd")
        compare(card.rule.bars, 2)
        verify(card.rule.enabled)
        verify(card.rule.allSections)
        const up = inside(card, "stepperUp")
        for (let i = 0; i < 4; ++i)
            mouseClick(up)
        compare(card.rule.bars, 6)
        compare(inside(card, "stepperLabel").text, "Bars before section end:")
        mouseClick(inside(card, "segment_After N bars"))
        compare(card.rule.anchor, "barsAfterStart")
        compare(card.rule.bars, 6)
        compare(inside(card, "stepperLabel").text, "Bars after start:")
        mouseClick(inside(card, "segment_On enter"))
        verify(!inside(card, "barStepper").visible)
        const rules = view.layerEditor.rulesEditor
        const bars = card.rule.bars
        rules.setBars(card.rule.id, 9) // no stepper for this anchor: nothing written
        compare(card.rule.bars, bars)
        mouseClick(inside(card, "segment_Last N bars"))
        compare(card.rule.bars, 2)
        rules.setBars(card.rule.id, 99)
        compare(card.rule.bars, 32)

        // Chorus is the third of the song's section names, each listed once.
        rules.toggleSection(card.rule.id, "Chorus")
        compare(rules.sectionNames.length, 6)
        compare(card.rule.chosen.map((c, i) => c ? rules.sectionNames[i] : "").filter(n => n), ["Chorus"])
        compare(card.rule.chosen[2], true)

        click("rulesDoneButton")
        tryVerify(() => !sheet.visible)
    }

    function test_testButtonFiresTheMomentThroughTheCoordinator() {
        // The DAW hears the main Mackie surface.
        view.live.setControlMode("mackieControl")
        const card = firstMomentCard()
        // Piano plays in the intro; the Moment takes it out.
        mouseClick(inside(inside(inside(card, "layerControl_0"), "layerState"), "segment_OUT"))
        compare(view.grid.momentsEditor.moments.get(0).states[0], 2)
        verify(!view.appState.momentActive)
        rig.advance(3000) // the switch to Mackie has sent the mute state, at its pace
        rig.clearHeard()
        mouseClick(inside(card, "testButton"))
        rig.advance(200)
        verify(view.appState.momentActive)
        // Only Piano's strip (the first, mute button note 0x10) is pressed.
        compare(heardPresses(), [0x10])
    }

    function test_aNumberReachesTheDawOnlyWhenCommitted_data() {
        return [
            { tag: "Enter", keys: "64", finish: "enter", cc: 64 },
            { tag: "keypad Enter", keys: "64", finish: "keypadEnter", cc: 64 },
            { tag: "leaving the field", keys: "64", finish: "leave", cc: 64 },
            { tag: "Escape puts the old one back", keys: "64", finish: "escape", cc: 20 },
            { tag: "out of range", keys: "200", finish: "enter", cc: 20 },
            { tag: "the same number", keys: "20", finish: "enter", cc: 20 },
        ]
    }
    function test_aNumberReachesTheDawOnlyWhenCommitted(data) {
        // The layers' CC mutes go to the DAW; the intro plays the piano (CC 20) alone.
        rig.routeLayersTo("Strata")
        rig.clearHeard()
        const field = inside(inside("layerRow_0", "layerCC"), "numberInput")
        mouseClick(field)
        verify(field.activeFocus)
        field.selectAll()
        for (const key of data.keys) {
            keyClick(key)
            rig.settle()
        }
        compare(field.text, data.keys)
        compare(heardCCs(), [], "nothing while typing")
        compare(view.layerEditor.layers.get(0).muteCC, 20)

        if (data.finish === "enter")
            keyClick(Qt.Key_Return)
        else if (data.finish === "keypadEnter")
            keyClick(Qt.Key_Enter)
        else if (data.finish === "escape")
            keyClick(Qt.Key_Escape)
        else
            mouseClick(inside(inside("layerRow_0", "layerChannel"), "numberInput"))
        rig.settle()
        compare(view.layerEditor.layers.get(0).muteCC, data.cc)
        compare(field.text, String(data.cc))
        if (data.cc === 20)
            compare(heardCCs(), [], "nothing changed, nothing sent")
        else
            compare(heardCCs(), ["1/64/127", "2/21/0", "3/22/0", "4/23/0", "5/24/0", "6/25/0"],
                    "one round, with the new CC only")
    }

    // New rows go where the set already sends that kind of row, else nowhere ("No port").
    function test_newRowsFollowTheirSiblingsElseNoPort() {
        rig.plugDestination("Synth")
        const add = find("addLayerButton")
        const cards = find("layerCards")
        mouseClick(add)
        compare(rig.stored("/layers/6/portName"), "", "the demo's layers have no port")
        cards.positionViewAtEnd()
        waitForRendering(view)
        const port = inside("layerRow_6", "layerPort")
        compare(port.text, "No port")
        mouseClick(port)
        const portMenu = inside(port, "portMenu")
        tryVerify(() => portMenu.opened)
        waitForRendering(view)
        verify(inside(portMenu, "portItem_none").checked)
        mouseClick(inside(portMenu, "portItem_Synth"))
        compare(rig.stored("/layers/6/portName"), "Synth")
        mouseClick(add)
        compare(rig.stored("/layers/7/portName"), "Synth")
        cards.positionViewAtEnd()
        waitForRendering(view)
        compare(inside("layerRow_7", "layerPort").text, "Synth")

        const card = firstMomentCard()
        mouseClick(inside(card, "advancedToggle"))
        mouseClick(inside(card, "addPatchButton"))
        mouseClick(inside(card, "addCCButton"))
        laidOut()
        const patchPort = inside(inside(card, "patchRow_0"), "patchPort")
        compare(patchPort.text, "No port")
        compare(inside(inside(card, "ccRow_0"), "ccPort").text, "No port")
        mouseClick(patchPort)
        const patchMenu = inside(patchPort, "portMenu")
        tryVerify(() => patchMenu.opened)
        waitForRendering(view)
        mouseClick(inside(patchMenu, "portItem_Synth"))
        mouseClick(inside(card, "addPatchButton"))
        mouseClick(inside(card, "addCCButton"))
        laidOut()
        const moment = view.grid.momentsEditor.moments.get(0)
        compare(moment.patches.map(p => p.port), ["Synth", "Synth"])
        compare(moment.ccs.map(c => c.port), ["", ""], "each kind of row follows its own")
    }
}
