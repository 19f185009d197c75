import QtQuick
import QtQuick.Controls

// The one window. Until the full main window replaces it, it shows the interim live view; the
// "Section" menu's keyboard commands work on the whole window.
ApplicationWindow {
    id: window

    required property var shell
    required property var live

    title: "Strata"
    visible: true
    width: 1280
    height: 800
    minimumWidth: 1080
    minimumHeight: 640
    color: "#0B0B0E"

    // Dark throughout, also for the controls of the default style.
    palette.window: "#0B0B0E"
    palette.base: "#111114"
    palette.button: "#18181D"
    palette.mid: "#2A2A32"
    palette.windowText: "#F5F5F7"
    palette.text: "#F5F5F7"
    palette.buttonText: "#F5F5F7"
    palette.placeholderText: "#9C9CA6"
    palette.highlight: "#00C9A7"
    palette.highlightedText: "#0B0B0E"

    // "Section" menu: Next Section, Previous Section, Next Step, Previous Step, Toggle Stage Mode.
    Shortcut {
        sequence: "Right"
        context: Qt.WindowShortcut
        onActivated: window.shell.nextSection()
    }
    Shortcut {
        sequence: "Left"
        context: Qt.WindowShortcut
        onActivated: window.shell.previousSection()
    }
    Shortcut {
        sequence: "Down"
        context: Qt.WindowShortcut
        onActivated: window.shell.nextStep()
    }
    Shortcut {
        sequence: "Up"
        context: Qt.WindowShortcut
        onActivated: window.shell.previousStep()
    }
    // Ctrl+S here, Command-S on macOS (Qt maps Ctrl to Command there). There is no save command:
    // the set saves itself.
    Shortcut {
        sequence: "Ctrl+S"
        context: Qt.WindowShortcut
        onActivated: window.shell.toggleStageMode()
    }

    LiveView {
        anchors.fill: parent
        shell: window.shell
        live: window.live
    }
}
