import QtQuick 2.11
import QtQuick.Controls 2.4

// The captions shrink where a language's text is longer than their place, centred on their line.
Page {
    id: page
    width: 540
    height: 380
    // A plain background: its items speak for themselves.
    Accessible.ignored: true

    Label {
        id: lblStatus1
        x: 9
        y: 172
        width: 128
        height: 21
        text: qsTr("Device Status:")
        font.pixelSize: 17
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 10
        verticalAlignment: Text.AlignVCenter
        font.bold: true
        topPadding: 0
        Accessible.ignored: true
    }

    Label {
        id: lblStatus6
        x: 8
        y: 198
        width: 205
        height: 21
        text: qsTr("Sensor Serial Number:")
        font.pixelSize: 17
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 10
        verticalAlignment: Text.AlignVCenter
        font.bold: true
        topPadding: 0
        Accessible.ignored: true
    }

    Label {
        id: lblStatus2
        x: 9
        y: 223
        width: 204
        height: 21
        text: qsTr("Reader Serial Number:")
        font.pixelSize: 17
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 10
        verticalAlignment: Text.AlignVCenter
        font.bold: true
        topPadding: 0
        Accessible.ignored: true
    }

    Label {
        id: lblStatus3
        x: 9
        y: 307
        width: 115
        height: 21
        text: qsTr("SW Version:")
        font.pixelSize: 17
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 10
        verticalAlignment: Text.AlignVCenter
        font.bold: true
        topPadding: 0
        Accessible.ignored: true
    }

    Label {
        id: lblStatus7
        objectName: "lblStatus7"
        x: 128
        y: 308
        text: Qt.application.version
        font.pixelSize: 17
        topPadding: 0
        Accessible.name: qsTr("Software version: %1").arg(text)
    }

    Label {
        id: lblStatus4
        x: 222
        y: 307
        width: 158
        height: 21
        text: qsTr("Reader Date Time:")
        font.pixelSize: 17
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 10
        verticalAlignment: Text.AlignVCenter
        font.bold: true
        topPadding: 0
        Accessible.ignored: true
    }

    Label {
        id: lblStatus5
        x: 48
        y: 341
        width: 445
        height: 21
        //: The maker's and the readers' names stay as they are.
        text: qsTr("© Norvane. For use with Lumora Kelo readers and their sensors only.")
        font.pixelSize: 13
        fontSizeMode: Text.HorizontalFit
        minimumPixelSize: 9
        horizontalAlignment: Text.AlignHCenter
        topPadding: 0
    }

    Image {
        id: image
        x: 76
        y: -27
        width: 393
        height: 233
        source: "logo_norvane_lrg2.png"
        smooth: true
        antialiasing: true
        fillMode: Image.PreserveAspectFit
    }
}
