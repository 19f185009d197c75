import QtQuick
import Strata.Ui
import Strata.Ui as Strata

// A small line symbol drawn on a 24 × 24 grid in one colour. Names follow the symbols the texts
// refer to ("sparkles", "square.grid.3x3.fill", …) plus a few of our own for the controls.
Canvas {
    id: icon

    property string name
    property color color: Strata.Palette.text
    property real lineWidth: 2

    implicitWidth: 16
    implicitHeight: 16
    antialiasing: true

    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    function star(ctx, cx, cy, r) {
        ctx.beginPath()
        ctx.moveTo(cx, cy - r)
        ctx.quadraticCurveTo(cx + r * 0.18, cy - r * 0.18, cx + r, cy)
        ctx.quadraticCurveTo(cx + r * 0.18, cy + r * 0.18, cx, cy + r)
        ctx.quadraticCurveTo(cx - r * 0.18, cy + r * 0.18, cx - r, cy)
        ctx.quadraticCurveTo(cx - r * 0.18, cy - r * 0.18, cx, cy - r)
        ctx.closePath()
        ctx.fill()
    }

    function line(ctx, x1, y1, x2, y2) {
        ctx.beginPath()
        ctx.moveTo(x1, y1)
        ctx.lineTo(x2, y2)
        ctx.stroke()
    }

    function polyline(ctx, points) {
        ctx.beginPath()
        ctx.moveTo(points[0], points[1])
        for (let i = 2; i < points.length; i += 2)
            ctx.lineTo(points[i], points[i + 1])
        ctx.stroke()
    }

    function arc(ctx, cx, cy, r, from, to) {
        ctx.beginPath()
        ctx.arc(cx, cy, r, from, to, false)
        ctx.stroke()
    }

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        if (width <= 0 || height <= 0)
            return
        ctx.scale(width / 24, height / 24)
        ctx.strokeStyle = icon.color
        ctx.fillStyle = icon.color
        ctx.lineWidth = icon.lineWidth
        ctx.lineCap = "round"
        ctx.lineJoin = "round"

        switch (icon.name) {
        case "speaker":
            ctx.beginPath()
            ctx.moveTo(3, 9); ctx.lineTo(7, 9); ctx.lineTo(12, 4.5); ctx.lineTo(12, 19.5)
            ctx.lineTo(7, 15); ctx.lineTo(3, 15); ctx.closePath()
            ctx.fill()
            arc(ctx, 12, 12, 4.5, -Math.PI / 4, Math.PI / 4)
            arc(ctx, 12, 12, 8.5, -Math.PI / 4, Math.PI / 4)
            break
        case "pianoKeys":
            ctx.strokeRect(2.5, 4, 19, 16)
            line(ctx, 8.8, 13, 8.8, 20)
            line(ctx, 15.2, 13, 15.2, 20)
            ctx.fillRect(6.8, 4, 4, 9)
            ctx.fillRect(13.2, 4, 4, 9)
            break
        case "screen":
            ctx.strokeRect(2.5, 3.5, 19, 13)
            line(ctx, 12, 16.5, 12, 20)
            line(ctx, 7.5, 20.5, 16.5, 20.5)
            break
        case "question":
            arc(ctx, 12, 12, 9.5, 0, 2 * Math.PI)
            ctx.beginPath()
            ctx.arc(12, 9.5, 3, Math.PI, Math.PI * 2.35, false)
            ctx.quadraticCurveTo(12, 12.5, 12, 14)
            ctx.stroke()
            ctx.beginPath()
            ctx.arc(12, 17.6, 1.3, 0, 2 * Math.PI)
            ctx.fill()
            break
        case "sparkle":
            star(ctx, 12, 12, 10)
            break
        case "sparkles":
            star(ctx, 10, 13, 9)
            star(ctx, 19, 5, 4)
            break
        case "chevronDown":
            polyline(ctx, [6, 9, 12, 15, 18, 9])
            break
        case "chevronLeft":
            polyline(ctx, [15, 5, 8, 12, 15, 19])
            break
        case "chevronRight":
            polyline(ctx, [9, 5, 16, 12, 9, 19])
            break
        case "plus":
            line(ctx, 12, 5, 12, 19)
            line(ctx, 5, 12, 19, 12)
            break
        case "minus":
            line(ctx, 5, 12, 19, 12)
            break
        case "plus.circle":
            arc(ctx, 12, 12, 9.5, 0, 2 * Math.PI)
            line(ctx, 12, 7.5, 12, 16.5)
            line(ctx, 7.5, 12, 16.5, 12)
            break
        case "square.and.arrow.down":
            polyline(ctx, [8, 9, 5, 9, 5, 21, 19, 21, 19, 9, 16, 9])
            line(ctx, 12, 2.5, 12, 15)
            polyline(ctx, [8, 11, 12, 15, 16, 11])
            break
        case "trash":
            line(ctx, 3.5, 6, 20.5, 6)
            polyline(ctx, [9, 6, 9, 3, 15, 3, 15, 6])
            polyline(ctx, [5.5, 6, 6.8, 21, 17.2, 21, 18.5, 6])
            line(ctx, 10, 10, 10, 17)
            line(ctx, 14, 10, 14, 17)
            break
        case "check":
            polyline(ctx, [5, 12.5, 10, 17.5, 19, 6.5])
            break
        case "warning":
            polyline(ctx, [12, 3, 22, 20.5, 2, 20.5, 12, 3])
            line(ctx, 12, 9.5, 12, 14)
            ctx.beginPath()
            ctx.arc(12, 17.3, 1.2, 0, 2 * Math.PI)
            ctx.fill()
            break
        case "xmark":
            line(ctx, 6, 6, 18, 18)
            line(ctx, 18, 6, 6, 18)
            break
        case "chevronUp":
            polyline(ctx, [6, 15, 12, 9, 18, 15])
            break
        case "wand":
            line(ctx, 4, 20, 15, 9)
            star(ctx, 17.5, 6.5, 4.5)
            star(ctx, 8, 5, 2.2)
            star(ctx, 19.5, 15.5, 2.2)
            break
        case "repeat":
            ctx.beginPath()
            ctx.moveTo(4, 11); ctx.lineTo(4, 9); ctx.quadraticCurveTo(4, 6, 7, 6); ctx.lineTo(19, 6)
            ctx.stroke()
            polyline(ctx, [16, 3, 19, 6, 16, 9])
            ctx.beginPath()
            ctx.moveTo(20, 13); ctx.lineTo(20, 15); ctx.quadraticCurveTo(20, 18, 17, 18); ctx.lineTo(5, 18)
            ctx.stroke()
            polyline(ctx, [8, 15, 5, 18, 8, 21])
            break
        case "trash":
            line(ctx, 4, 6.5, 20, 6.5)
            polyline(ctx, [9.5, 6.5, 9.5, 3.5, 14.5, 3.5, 14.5, 6.5])
            polyline(ctx, [6, 6.5, 7, 20.5, 17, 20.5, 18, 6.5])
            line(ctx, 10, 10.5, 10, 16.5)
            line(ctx, 14, 10.5, 14, 16.5)
            break
        case "play":
            ctx.beginPath()
            ctx.moveTo(7, 4.5); ctx.lineTo(19.5, 12); ctx.lineTo(7, 19.5); ctx.closePath()
            ctx.fill()
            break
        case "square.grid.3x3.fill":
            for (let row = 0; row < 3; ++row)
                for (let col = 0; col < 3; ++col)
                    ctx.fillRect(2.5 + col * 7, 2.5 + row * 7, 5, 5)
            break
        case "arrow.left.arrow.right":
            polyline(ctx, [3, 8, 20, 8])
            polyline(ctx, [16, 4, 20, 8, 16, 12])
            polyline(ctx, [21, 16, 4, 16])
            polyline(ctx, [8, 12, 4, 16, 8, 20])
            break
        case "list.number":
            ctx.font = "bold 6px sans-serif"
            ctx.fillText("1", 2, 7.5)
            ctx.fillText("2", 2, 14.5)
            ctx.fillText("3", 2, 21.5)
            line(ctx, 9, 5.5, 21, 5.5)
            line(ctx, 9, 12.5, 21, 12.5)
            line(ctx, 9, 19.5, 21, 19.5)
            break
        case "dot.radiowaves.left.and.right":
            ctx.beginPath()
            ctx.arc(12, 12, 2.5, 0, 2 * Math.PI)
            ctx.fill()
            arc(ctx, 12, 12, 6, -Math.PI / 4, Math.PI / 4)
            arc(ctx, 12, 12, 6, Math.PI * 3 / 4, Math.PI * 5 / 4)
            arc(ctx, 12, 12, 10, -Math.PI / 4, Math.PI / 4)
            arc(ctx, 12, 12, 10, Math.PI * 3 / 4, Math.PI * 5 / 4)
            break
        case "pedal":
            ctx.beginPath()
            ctx.moveTo(5, 20); ctx.lineTo(19, 20); ctx.lineTo(19, 16); ctx.lineTo(7, 5)
            ctx.lineTo(5, 7); ctx.closePath()
            ctx.stroke()
            break
        }
    }
}
