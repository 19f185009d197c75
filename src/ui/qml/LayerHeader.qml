import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// A column's title: the layer's name over its MIDI channel.
Column {
    id: header

    property string name
    property int channel

    spacing: 1

    Text {
        id: nameText
        objectName: "layerName"
        width: header.width
        // A little air between neighbours when narrow columns elide their names.
        leftPadding: 2
        rightPadding: 2
        horizontalAlignment: Text.AlignHCenter
        text: header.name
        color: Strata.Palette.text
        font.pixelSize: 12
        font.weight: Font.DemiBold
        elide: Text.ElideRight
    }
    Caption {
        objectName: "layerChannel"
        width: header.width
        horizontalAlignment: Text.AlignHCenter
        text: "CH " + header.channel
        font.pixelSize: Strata.Palette.smallLabelSize
    }

    // The whole name, for a column too narrow to show it.
    HoverHandler {
        id: hover
    }
    HoverHelp {
        objectName: "help"
        text: header.name
        shown: hover.hovered && nameText.truncated
    }
}
