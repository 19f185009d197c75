import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Strata.Ui
import Strata.Ui as Strata

// "Band Remote": the set on bandmates' phones, and NEXT from them once paired; OSC for control
// apps from the addresses allowed here.
Sheet {
    id: sheet

    required property RemoteModel remote

    width: 720
    height: 560

    contentItem: ColumnLayout {
        spacing: 14

        Text {
            Layout.topMargin: 28
            Layout.leftMargin: 32
            text: "Band Remote"
            color: Strata.Palette.text
            font.pixelSize: 24
            font.weight: Font.Bold
        }

        RowLayout {
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 28

            ColumnLayout {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                spacing: 12

                RowLayout {
                    spacing: 16
                    DarkCheckBox {
                        objectName: "remoteWebEnabled"
                        text: "Web page for phones"
                        checked: sheet.remote.webEnabled
                        onToggled: sheet.remote.webEnabled = checked
                    }
                    NumberField {
                        objectName: "remoteWebPort"
                        label: "Port"
                        value: sheet.remote.webPort
                        from: 1024
                        to: 65535
                        fieldWidth: 64
                        onEdited: (v) => sheet.remote.webPort = v
                    }
                }
                Caption {
                    text: "VIEWER LINK"
                }
                TextEdit {
                    objectName: "remoteLink"
                    Layout.fillWidth: true
                    text: sheet.remote.viewerLink
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.WrapAnywhere
                    color: sheet.remote.webEnabled ? Strata.Palette.text : Strata.Palette.textDim
                    font.pixelSize: 13
                }
                RowLayout {
                    spacing: 12
                    Caption {
                        text: "PAIRING CODE"
                    }
                    Text {
                        objectName: "remotePairingCode"
                        text: sheet.remote.pairingCode
                        color: Strata.Palette.teal
                        font.pixelSize: 26
                        font.weight: Font.Bold
                        font.letterSpacing: 4
                    }
                    Item { Layout.fillWidth: true }
                    PrimaryButton {
                        text: "New link"
                        filled: false
                        onClicked: sheet.remote.renewLink()
                    }
                }
                Caption {
                    text: "PAIRED PHONES"
                }
                Repeater {
                    model: sheet.remote.pairings
                    delegate: RowLayout {
                        required property var modelData
                        spacing: 10
                        Text {
                            text: modelData.device
                            color: Strata.Palette.text
                            font.pixelSize: 14
                        }
                        PrimaryButton {
                            text: "Revoke"
                            filled: false
                            onClicked: sheet.remote.revoke(modelData.id)
                        }
                    }
                }
                Text {
                    visible: sheet.remote.pairings.length === 0
                    text: "None yet"
                    color: Strata.Palette.textDim
                    font.pixelSize: 13
                }
            }

            // The viewer link as a QR code, drawn module by module with a quiet zone.
            Rectangle {
                Layout.alignment: Qt.AlignTop
                width: 200
                height: 200
                color: "white"
                radius: 6
                opacity: sheet.remote.webEnabled ? 1 : 0.35
                Canvas {
                    id: qr
                    objectName: "remoteQr"
                    anchors.fill: parent
                    anchors.margins: 12
                    property var modules: sheet.remote.qrModules
                    property int size: sheet.remote.qrSize
                    onModulesChanged: requestPaint()
                    onPaint: {
                        const ctx = getContext("2d");
                        ctx.fillStyle = "white";
                        ctx.fillRect(0, 0, width, height);
                        if (size <= 0)
                            return;
                        const cell = Math.floor(Math.min(width, height) / size);
                        const offset = Math.floor((Math.min(width, height) - cell * size) / 2);
                        ctx.fillStyle = "black";
                        for (let y = 0; y < size; ++y)
                            for (let x = 0; x < size; ++x)
                                if (modules[y * size + x])
                                    ctx.fillRect(offset + x * cell, offset + y * cell, cell, cell);
                    }
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            height: 1
            color: Strata.Palette.border
        }

        RowLayout {
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 16
            DarkCheckBox {
                objectName: "remoteOscEnabled"
                text: "OSC"
                checked: sheet.remote.oscEnabled
                onToggled: sheet.remote.oscEnabled = checked
            }
            NumberField {
                objectName: "remoteOscPort"
                label: "Port"
                value: sheet.remote.oscPort
                from: 1024
                to: 65535
                fieldWidth: 64
                onEdited: (v) => sheet.remote.oscPort = v
            }
            Caption {
                text: "ALLOWED SENDERS"
            }
            TextField {
                objectName: "remoteOscAllowed"
                Layout.fillWidth: true
                text: sheet.remote.oscAllowed
                placeholderText: "none: e.g. 192.168.1.20, 192.168.1.21"
                color: Strata.Palette.text
                placeholderTextColor: Strata.Palette.textDim
                font.pixelSize: 13
                background: Rectangle {
                    color: Strata.Palette.bg2
                    radius: 6
                    border.color: Strata.Palette.border
                }
                onEditingFinished: sheet.remote.oscAllowed = text
            }
        }

        Item { Layout.fillHeight: true }

        RowLayout {
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            Layout.bottomMargin: 24
            Item { Layout.fillWidth: true }
            PrimaryButton {
                objectName: "remoteDone"
                text: "Done"
                onClicked: sheet.close()
            }
        }
    }
}
