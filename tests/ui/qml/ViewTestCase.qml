import QtQuick
import QtTest
import Strata.Ui

// A TestCase that builds a fresh launch (new core objects, new view) for every test function. It is
// the root of its test file and, unlike a plain TestCase, visible at the window's size, or mouse
// events would go nowhere.
TestCase {
    id: testCase
    width: 1280
    height: 800
    visible: true

    // The ContentView of the running test.
    property Item view
    // Preferences to start each test with, by key (fresh preferences otherwise).
    property var startSettings: ({
        "showModeChooserAtStartup": false,
        "hasSeenQuickStart": true
    })

    when: windowShown

    // How long a wait for something the view does (a layout, an animation, a delayed tooltip) may
    // take before it counts as never: long enough that a loaded machine fails nothing that was
    // merely slow. A wait ends as soon as what it waits for holds.
    readonly property int patience: 20000

    Component {
        id: viewComponent
        ContentView {}
    }


    // With `storedFile`, the setlist file holds that text at the launch.
    function launch(settings, storedFile) {
        // The views over the old objects must be gone before those objects are.
        if (view) {
            view.destroy()
            view = null
        }
        wait(0)
        rig.restart(storedFile)
        for (const key in settings)
            rig.setSetting(key, settings[key])
        rig.loadDemoSet()
        rig.advance(5000) // whatever the start lit has gone dark
        const props = rig.models()
        props.width = width
        props.height = height
        view = createTemporaryObject(viewComponent, testCase, props)
        verify(view, "the main view loads")
        waitForRendering(view)
    }

    function init() {
        launch(startSettings)
    }

    // An item of the view by name, also inside the sheets: their content lives in the window's
    // overlay, where items made by a Repeater are reachable only from the sheet's content item.
    function find(name) {
        let item = findChild(view, name)
        for (const sheet of ["modeChooser", "setupGuide", "quickStartSheet", "setlistImport",
                             "newSetConfirmation", "momentsEditor", "rulesEditor"]) {
            if (item)
                break
            item = findChild(findChild(view, sheet).contentItem, name)
        }
        verify(item, "found " + name)
        return item
    }

    // An item inside another one (or inside the item of that name), found by name.
    function inside(outer, name) {
        const item = findChild(typeof outer === "string" ? find(outer) : outer, name)
        verify(item, "found " + name)
        return item
    }

    // The Mackie buttons the DAW heard pressed (note on, velocity 127), by note.
    function heardPresses() {
        return rig.heard().filter(p => p.length === 3 && p[0] === 0x90 && p[2] === 0x7F).map(p => p[1])
    }

    // The CC messages the DAW heard, as "channel/cc/value" (channel from 1).
    function heardCCs() {
        return rig.heard().filter(p => (p[0] & 0xF0) === 0xB0)
                          .map(p => ((p[0] & 0x0F) + 1) + "/" + p[1] + "/" + p[2])
    }

    function click(name) {
        const item = find(name)
        verify(item.visible, name + " is visible")
        mouseClick(item)
        return item
    }
}
