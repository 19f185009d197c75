pragma Singleton
import QtQuick

// Every colour of the program, and the type scale of its labels. QtQuick has a type of this name
// too, which wins over ours whatever the import order; views therefore import this module a second
// time as `Strata` and write Strata.Palette.
QtObject {
    readonly property color bg0: "#0B0B0E"      // window background
    readonly property color bg1: "#111114"      // panel background
    readonly property color bg2: "#18181D"      // raised controls
    readonly property color bg3: "#222228"      // dots and lights when off
    readonly property color border: "#2A2A32"   // outlines, dividers
    readonly property color text: "#F5F5F7"     // primary text
    readonly property color textDim: "#9C9CA6"  // secondary text, inactive labels
    readonly property color teal: "#00C9A7"     // live, connected, active, essentials accent
    readonly property color gold: "#E8A84C"     // pro accent, emphasis
    readonly property color red: "#FF4444"      // warnings

    // Toolbar and indicator labels: small, semibold, widely spaced.
    readonly property int labelSize: 12
    readonly property int smallLabelSize: 10
    readonly property real labelSpacing: 1.0

    function alpha(c, a) {
        return Qt.rgba(c.r, c.g, c.b, a)
    }
}
