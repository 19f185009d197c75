import QtQuick
import QtTest
import Strata.Ui

ViewTestCase {
    name: "Toolbar"

    function label(name) {
        return findChild(find(name), "label").text
    }

    function openMenu(buttonName, itemName) {
        click(buttonName)
        const item = find(itemName)
        tryVerify(() => item.visible, patience, "visible: " + itemName)
        return item
    }

    function test_modeSwitchResendsTheMuteStateAtOnce() {
        view.live.setControlMode("mackieControl")
        rig.settle()
        rig.clearHeard()
        click("segment_PRO")
        rig.settle()
        verify(view.appState.isPro)
        verify(rig.heard().length > 0, "the switch itself sends, before any key watcher")
        verify(heardPresses().includes(0x2E), "the shadow was reset, so the bank is placed again")
        click("segment_ESSENTIALS")
        verify(!view.appState.isPro)
    }

    // The trigger menu's entry, once the menu has finished opening (the control's label has
    // just changed width, and the menu is placed under it).
    function triggerMenuItem(itemName) {
        click("triggerControl")
        tryVerify(() => find("triggerMenu").opened)
        waitForRendering(view)
        const item = find(itemName)
        verify(item.visible, itemName)
        return item
    }
    function labelColor() {
        return findChild(find("triggerControl"), "label").color
    }

    function test_theTriggerIsLearnedLeftAndClearedAndShowsItsDevicesAbsence() {
        compare(label("triggerControl"), "SET TRIGGER")
        verify(!find("clearItem").enabled)
        mouseClick(openMenu("triggerControl", "learnItem"))
        compare(label("triggerControl"), "LISTENING\u2026")
        click("triggerControl")
        tryVerify(() => find("listeningItem").visible)
        verify(!find("learnItem").visible)
        keyClick(Qt.Key_Escape)
        rig.pressNote("FCB1010", 64)
        const learned = "NOTE 64 \u00B7 FCB1010"
        compare(label("triggerControl"), learned)
        verify(rig.nextTriggerStored(), "kept for the next launch")

        // Learning again is left by the menu or by Escape; the trigger stays (left by waiting:
        // TriggerLearningTest).
        mouseClick(triggerMenuItem("learnItem"))
        verify(view.midi.learning)
        const cancel = triggerMenuItem("cancelLearningItem")
        mouseClick(cancel)
        verify(!view.midi.learning)
        compare(label("triggerControl"), learned)
        mouseClick(triggerMenuItem("learnItem"))
        keyClick(Qt.Key_Escape)
        verify(!view.midi.learning)
        rig.pressNote("Keystation", 70)
        compare(label("triggerControl"), learned)

        // Its device unplugged: NOT CONNECTED, as a warning, until it is back.
        const normal = labelColor().toString()
        rig.unplug("FCB1010")
        compare(label("triggerControl"), "NOT CONNECTED \u00B7 " + learned)
        verify(!Qt.colorEqual(labelColor(), normal), "shown as a warning")
        compare(triggerMenuItem("offlineItem").text, "Not connected: FCB1010")
        keyClick(Qt.Key_Escape)
        rig.pressNote("FCB1010", 70) // plugged in again
        compare(label("triggerControl"), learned)
        verify(Qt.colorEqual(labelColor(), normal))

        mouseClick(triggerMenuItem("clearItem"))
        compare(label("triggerControl"), "SET TRIGGER")
        verify(!rig.nextTriggerStored(), "forgotten for the next launch too")
        rig.pressNote("FCB1010", 64)
        compare(view.appState.sectionIndex, 0, "the pedal moves nothing any more")
    }

    function test_bankStepperBoundsAndLabel() {
        verify(!find("bankStepper").visible, "no bank in CC Mute mode")
        view.live.setControlMode("mackieControl")
        verify(find("bankStepper").visible)
        compare(find("bankLabel").text, "TRK 1\u20138")
        verify(!find("bankDown").enabled)
        view.live.stepBank(-1)
        compare(rig.stored("/mackieTrackOffset"), undefined, "nothing written below the first bank")

        rig.clearHeard()
        click("bankUp")
        rig.settle()
        compare(rig.stored("/mackieTrackOffset"), 8)
        verify(heardPresses().includes(0x2F), "each step moves the surface at once")
        for (let i = 0; i < 30; ++i)
            click("bankUp")
        compare(find("bankLabel").text, "TRK 249\u2013256")
        verify(!find("bankUp").enabled)
        mouseClick(find("bankUp"))
        compare(rig.stored("/mackieTrackOffset"), 248)

        click("bankDown")
        compare(find("bankLabel").text, "TRK 241\u2013248")

        // An offset stored beyond the stepper's range is shown as it is; a step right never
        // lowers it, the first step left brings it back into range.
        rig.setStoredTrackOffset(403)
        compare(find("bankLabel").text, "TRK 401\u2013408")
        view.live.stepBank(1)
        compare(rig.stored("/mackieTrackOffset"), 403)
        view.live.stepBank(-1)
        compare(rig.stored("/mackieTrackOffset"), 248)
    }

    function test_cueIndicatorStates() {
        compare(find("cueCaption").text, "CUE \u00B7 OFFLINE")
        const dark = find("cueDot").color.toString()
        rig.cueDatagram(JSON.stringify({ type: "HELLO", host: "FOH-Mac" }))
        compare(find("cueCaption").text, "CUE \u00B7 FOH-Mac")
        verify(!Qt.colorEqual(find("cueDot").color, dark), "the dot lights")
        verify(Qt.colorEqual(find("cueCaption").color, find("cueDot").color))
        rig.cueDatagram(JSON.stringify({ type: "GOODBYE" }))
        compare(find("cueCaption").text, "CUE \u00B7 OFFLINE")
        verify(Qt.colorEqual(find("cueDot").color, dark))
    }

    function test_activityLightsAndTheirHelp() {
        verify(!find("dawLight").visible, "no DAW light in CC Mute mode")
        verify(!find("midiLight").lit)
        rig.stampTransmit()
        verify(find("midiLight").lit)

        const ccHelp = find("lightsHelp").text
        view.live.setControlMode("mackieControl")
        verify(find("dawLight").visible)
        compare(find("dawLight").text, "DAW ?")
        verify(find("lightsHelp").text !== ccHelp && find("lightsHelp").text.includes("DAW"),
               "with a surface the help explains the DAW light too")

        // The MIDI system goes away and comes back while the window is open.
        rig.setMidiAvailable(false)
        verify(find("midiUnavailable").visible)
        verify(!find("midiLight").visible)
        rig.setMidiAvailable(true)
        verify(!find("midiUnavailable").visible)
        verify(find("midiLight").visible)

        // A control's help shows when the pointer rests on it.
        mouseMove(find("allOnButton"))
        tryVerify(() => findChild(find("allOnButton"), "help").visible, patience)
    }

    function test_controlModeMenuAndPortChoice() {
        compare(label("controlModeMenu"), "CC Mute (MIDI Learn)")
        mouseClick(openMenu("controlModeMenu", "mackieItem"))
        compare(rig.stored("/controlMode"), "mackieControl")
        compare(label("controlModeMenu"), "Mackie Control")
        view.live.setControlMode("bogus")
        compare(rig.stored("/controlMode"), "mackieControl")
        rig.clearHeard()
        mouseClick(openMenu("controlModeMenu", "mackieItem"))
        rig.settle()
        verify(rig.heard().length > 0, "choosing a mode resends even when it is unchanged")

        mouseClick(openMenu("controlModeMenu", "portItem_Strata XT"))
        compare(rig.stored("/mackiePort"), "Strata XT")
        mouseClick(openMenu("controlModeMenu", "defaultPortItem"))
        compare(rig.stored("/mackiePort"), undefined)

        mouseClick(openMenu("controlModeMenu", "ccMuteItem"))
        compare(rig.stored("/controlMode"), "ccMute")
    }

    function test_dawHostChoiceResyncAndMidiMap() {
        compare(rig.stored("/dawHost"), undefined)
        click("controlModeMenu")
        tryVerify(() => find("logicHostItem").visible)
        verify(find("logicHostItem").checked)
        verify(!find("resyncItem").enabled)
        verify(!find("saveMapItem").enabled)
        keyClick(Qt.Key_Escape)

        // The first section mutes every layer but the piano; the layers talk to the DAW. What a
        // change of host sends is the coordinator's (its host test); the resync entry sends every
        // muted layer's toggle again.
        rig.routeLayersTo("Strata")
        mouseClick(openMenu("controlModeMenu", "ardourHostItem"))
        compare(rig.stored("/dawHost"), "ardour")
        rig.settle()
        rig.clearHeard()
        mouseClick(openMenu("controlModeMenu", "resyncItem"))
        rig.settle()
        compare(heardCCs(), ["2/21/127", "3/22/127", "4/23/127", "5/24/127", "6/25/127"])

        verify(find("saveMapItem").enabled)
        verify(!findChild(view, "mapErrorItem"))
        keyClick(Qt.Key_Escape)
        const menu = find("controlModeMenu")
        const file = rig.tempFileUrl("crown.map")
        verify(menu.saveMap(file))
        const map = rig.fileText(file)
        verify(map.indexOf("name=\"Strata: Friday at The Crown\"") > 0, map)

        verify(!menu.saveMap(rig.tempFileUrl("no such folder/crown.map")))
        click("controlModeMenu")
        tryVerify(() => find("mapErrorItem").visible)
        verify(find("mapErrorItem").text.startsWith("Could not save the map: "))
        tryVerify(() => find("mapErrorItem").y === find("saveMapItem").y + find("saveMapItem").height,
                  patience, "right below the save entry")
        tryVerify(() => find("defaultPortItem").y > find("mapErrorItem").y + find("mapErrorItem").height,
                  patience, "the entries below make room")

        // The menu entry opens the save dialog (its answer goes through saveMap).
        mouseClick(find("saveMapItem"))
        const dialog = find("mapDialog")
        tryVerify(() => dialog.visible)
        compare(dialog.fileMode, 2 /* FileDialog.SaveFile */)
        dialog.reject()
        tryVerify(() => !dialog.visible)
        verify(menu.saveMap(file))
        tryVerify(() => !findChild(view, "mapErrorItem"), patience, "a success clears the error")

        mouseClick(openMenu("controlModeMenu", "logicHostItem"))
        compare(rig.stored("/dawHost"), undefined, "the default is stored as no host")
    }

    function test_helpMenuOpensTheSheets() {
        mouseClick(openMenu("helpButton", "quickStartItem"))
        verify(view.shell.showQuickStart)
        tryVerify(() => find("quickStartSheet").opened)
        click("skipButton")
        tryVerify(() => !view.shell.showQuickStart)

        mouseClick(openMenu("helpButton", "setupGuideItem"))
        verify(view.shell.showSetup)
        tryVerify(() => find("setupGuide").opened)
        keyClick(Qt.Key_Escape)
        tryVerify(() => !find("setupGuide").opened)

        // The band remote's sheet: turning the page on there turns it on in the setup.
        mouseClick(openMenu("helpButton", "bandRemoteItem"))
        tryVerify(() => find("remoteSheet").opened)
        verify(!view.remote.webEnabled)
        compare(find("remotePairingCode").text.length, 6)
        verify(find("remoteLink").text.indexOf("/?t=") > 0)
        mouseClick(find("remoteWebEnabled"))
        verify(view.remote.webEnabled)
        click("remoteDone")
        tryVerify(() => !find("remoteSheet").opened)
    }
}
