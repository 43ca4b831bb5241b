import QtQuick 2.11
import QtQuick.Controls 2.4
import com.norvane.lumora 1.0

ApplicationWindow {
    id: window
    visible: true
    width: 600
    height: 380
    minimumWidth: 600
    maximumWidth: 600
    minimumHeight: 380
    maximumHeight: 380
    //: The program's name: the same in every language.
    title: qsTr("Norvane Lumora Kelo Connector")
    // The fixed positions need a font of Arial's widths; fontconfig maps the name to its metric
    // twin (Liberation Sans) where Arial itself is missing.
    font.family: "Arial"

    readonly property string notAnswering:
        qsTr("The reader does not answer. Unplug it and plug it in again.")

    // Progress counter of the download timer. Never set back to 0: it carries over from one
    // download to the next.
    property int progressTicks: 0

    // The reader's visit: the window shows what it says.
    DownloadSession {
        id: session
        objectName: "session"

        onStateChanged: {
            if (state === DownloadSession.Arriving) {
                console.log("The reader is now connected.")
            } else if (state === DownloadSession.ReaderRemoved) {
                console.log("The reader is now disconnected.")
                endProgress()
            }
        }
        onDownloadStarted: {
            progressDialog.open()
            timer1.start()
        }
        onSaved: {
            endProgress()
            transferDialog.open()
        }
        onFileProblem: showError(message)
        onFailed: {
            switch (failure) {
            case DownloadSession.SetupUnusable:
                showError(detail)
                break
            case DownloadSession.NoData:
                endProgress()
                showError(qsTr("No data to report from the Sensor."))
                break
            case DownloadSession.NoSensorId:
                endProgress()
                showError(qsTr("The reader's data does not name the sensor. Nothing was saved."))
                break
            case DownloadSession.Cancelled:
                endProgress()
                break
            case DownloadSession.NotAnswering:
                console.log(notAnswering)
                if (progressDialog.visible) {
                    endProgress()
                    showError(notAnswering)
                }
                break
            default:
                // Not saved: FileUtil has said why. Removed: the status line says so.
                if (detail !== "") {
                    console.log(detail)
                }
                endProgress()
            }
        }
    }

    function endProgress() {
        progressDialog.close()
        timer1.stop()
        progressBar.enabled = true
        progressBar.visible = true
    }

    function showError(message) {
        console.log(message)
        errorDialog.text = message
        errorDialog.open()
    }

    function statusText() {
        switch (session.state) {
        case DownloadSession.AccessDenied:
            var problem = session.accessProblem
            return problem.charAt(0).toUpperCase() + problem.slice(1) + "."
        case DownloadSession.Arriving:
        case DownloadSession.Ready:
        case DownloadSession.Downloading:
            return qsTr("The reader is connected.")
        case DownloadSession.ReaderSilent:
            return notAnswering
        case DownloadSession.ReaderRemoved:
            return qsTr("The reader is disconnected.")
        }
        return qsTr("Please Connect the Reader.")
    }

    Page1Form {
        id: page1
        objectName: "page1"
        // Holds Get Data's focus, so that the keyboard reaches it without a click first.
        focus: true

        Label {
            id: lblStatus1
            objectName: "lblStatus1"
            x: 140
            y: 172
            width: 450
            height: 24
            text: statusText()
            textFormat: Text.PlainText
            // A long message (a path that may not be opened) shrinks to fit rather than run off
            // the window.
            wrapMode: Text.WordWrap
            fontSizeMode: Text.Fit
            minimumPixelSize: 9
            font.pixelSize: 17
            topPadding: 0
            // The captions beside the values are hidden from screen readers: each value names
            // itself.
            Accessible.name: qsTr("Device status: %1").arg(text)
        }

        Label {
            id: lblReaderSerialNumber
            objectName: "lblReaderSerialNumber"
            x: 220
            y: 198
            width: 300
            height: 21
            text: session.sensorId
            textFormat: Text.PlainText
            font.pixelSize: 17
            topPadding: 0
            Accessible.name: qsTr("Sensor serial number: %1").arg(text)
        }

        Label {
            id: lblSerialNumber
            objectName: "lblSerialNumber"
            x: 220
            y: 223
            width: 300
            height: 21
            text: session.serialNumber
            textFormat: Text.PlainText
            font.pixelSize: 17
            topPadding: 0
            Accessible.name: qsTr("Reader serial number: %1").arg(text)
        }

        Label {
            id: lblReaderDateTime
            objectName: "lblReaderDateTime"
            x: 385
            y: 307
            width: 205
            height: 21
            text: session.readerClock !== "" ? session.readerClock : qsTr("<device not connected>")
            textFormat: Text.PlainText
            font.pixelSize: 17
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 10
            verticalAlignment: Text.AlignVCenter
            topPadding: 0
            Accessible.name: qsTr("Reader date and time: %1").arg(text)
        }

        // Only while the reader's clock is more than 5 minutes off: in the free space just above
        // the clock's line, wrapped, and shrunk rather than cut where a language is longer.
        Label {
            id: lblClockWarning
            objectName: "lblClockWarning"
            x: 222
            y: 250
            width: 368
            height: 52
            visible: text !== ""
            text: session.clockWarning
            textFormat: Text.PlainText
            color: "#c62828"
            font.bold: true
            wrapMode: Text.WordWrap
            fontSizeMode: Text.Fit
            minimumPixelSize: 9
            font.pixelSize: 15
            verticalAlignment: Text.AlignBottom
            topPadding: 0
        }

        KeyButton {
            id: btnGetData
            objectName: "btnGetData"
            anchors.left: parent.left
            anchors.leftMargin: 9
            y: 260
            text: qsTr("Get Data")
            font.pixelSize: 17
            enabled: session.state === DownloadSession.Ready
                     || session.state === DownloadSession.Downloading
            flat: false
            focus: true
            // The style frames a button focused by Tab only; Get Data gets the focus from a
            // reader's arrival or a closing dialog, and must show it then too.
            onActiveFocusChanged: if (activeFocus) focusReason = Qt.TabFocusReason
            onClicked: session.download()
            Accessible.description:
                qsTr("Downloads the reader's records and saves them encrypted for the recipient.")
        }

        // Said before any download, so that a download is never thrown away at the end.
        Component.onCompleted: {
            var problem = session.setupProblem()
            if (problem !== "") {
                showError(problem)
            }
        }
    }

    Timer {
        id: timer1
        objectName: "timer1"
        interval: 1000
        repeat: true
        running: false
        onTriggered: {
            progressTicks += 10
            if (progressTicks === 100) {
                timer1.stop()
                return
            }
            progressBar.value = progressTicks % 100
        }
    }

    SystemPalette {
        id: systemPalette
    }

    // Each dialog's panel brings its buttons, OK included.
    PanelDialog {
        id: errorDialog
        objectName: "errorDialog"
        title: qsTr("Error")
        property string text

        // Messages quote paths and reader text: shown as plain text, never as markup.
        Item {
            implicitWidth: 400
            implicitHeight: errorText.implicitHeight + 70
                            + (logFolder !== "" ? logText.implicitHeight + 10 : 0)

            Label {
                id: errorText
                objectName: "errorText"
                x: 14
                y: 14
                width: parent.width - 28
                text: errorDialog.text
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: 14
            }

            // Where the log to send to support is; no line when none is written.
            Label {
                id: logText
                objectName: "logText"
                anchors.top: errorText.bottom
                anchors.topMargin: 10
                x: 14
                width: parent.width - 28
                visible: logFolder !== ""
                text: qsTr("A log for support is kept in %1.").arg(logFolder)
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: 12
            }

            Row {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                spacing: 8

                KeyButton {
                    objectName: "btnOpenLogFolder"
                    visible: logFolder !== ""
                    text: qsTr("Open log folder")
                    onClicked: Qt.openUrlExternally(logFolderUrl)
                }
                KeyButton {
                    text: qsTr("OK")
                    onClicked: errorDialog.close()
                }
            }
        }
    }

    PanelDialog {
        id: progressDialog
        objectName: "progressDialog"
        title: qsTr("Progress")
        // Esc rejects the dialog as its Cancel button does: the downloads are cancelled.
        onRejected: session.cancel()

        // Larger than the bar it holds, so that nothing is cut off; wide enough for the count in
        // every language.
        Item {
            implicitWidth: 340
            implicitHeight: 130

            Label {
                x: 10
                y: 14
                width: parent.width - 20
                horizontalAlignment: Text.AlignHCenter
                text: qsTr("Downloading the reader's data...")
                font.pixelSize: 15
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 10
            }

            ProgressBar {
                id: progressBar
                objectName: "progressBar"
                x: 20
                y: 28
                width: 180
                height: 50
                from: 0
                to: 100
                visible: true
                Accessible.name: qsTr("Download progress")
            }

            // Records of the table being received, next to the bar.
            Label {
                id: lblRecordCount
                objectName: "lblRecordCount"
                anchors.left: progressBar.right
                anchors.leftMargin: 10
                anchors.verticalCenter: progressBar.verticalCenter
                width: parent.width - x - 10
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 9
                text: session.recordCount < 0 ? ""
                      : session.recordCount === 1 ? qsTr("1 record")
                      : qsTr("%1 records").arg(session.recordCount)
                textFormat: Text.PlainText
                font.pixelSize: 13
            }

            KeyButton {
                objectName: "btnCancel"
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                text: qsTr("Cancel")
                onClicked: progressDialog.reject()
            }
        }
    }

    PanelDialog {
        id: transferDialog
        objectName: "transferDialog"
        title: qsTr("Ready To Transfer")

        // Large enough for the hint to be read and the file's whole path to be seen.
        Item {
            implicitWidth: 400
            implicitHeight: 320

            AnimatedImage {
                id: image
                y: 10
                width: 261
                height: 175
                source: "dragout-animated.gif"
                cache: true
                fillMode: Image.PreserveAspectFit
                anchors.horizontalCenter: parent.horizontalCenter
                Accessible.role: Accessible.Graphic
                Accessible.name: qsTr("Drag the file from here into another application.")
            }

            // The picture's caption, in the blank band at its foot.
            Label {
                id: lblDragHint
                objectName: "lblDragHint"
                x: 10
                y: image.y + 143
                width: parent.width - 20
                height: 26
                text: qsTr("Drag the file where you need it")
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 9
                font.pixelSize: 13
                font.bold: true
                color: "#445548"
                // The picture's name already says it.
                Accessible.ignored: true
            }

            MouseArea {
                id: mouseArea
                anchors.fill: parent
                hoverEnabled: true
                drag.target: draggable
                cursorShape: mouseArea.contains(mouseArea.mapToItem(mouseArea, mouseArea.mouseX,
                                                                    mouseArea.mouseY))
                             ? Qt.OpenHandCursor : Qt.ArrowCursor
            }

            Item {
                id: draggable
                objectName: "draggable"
                width: parent.width
                height: parent.height
                Drag.active: mouseArea.drag.active
                Drag.hotSpot.x: 0
                Drag.hotSpot.y: 0
                Drag.supportedActions: Qt.CopyAction
                Drag.dragType: Drag.Automatic
                Drag.mimeData: ({ "text/uri-list": session.savedUrl })
                Drag.onDragStarted: {}
                Drag.onDragFinished: transferDialog.close()
            }

            // Above the drag area, so that the path can be selected; the keyboard reaches it and
            // the buttons, for those who cannot drag.
            TextEdit {
                id: lblFileName
                objectName: "lblFileName"
                x: 10
                y: 190
                width: parent.width - 20
                text: session.savedPath
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                activeFocusOnTab: true
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.WrapAnywhere
                horizontalAlignment: TextEdit.AlignHCenter
                color: systemPalette.windowText
                selectionColor: systemPalette.highlight
                selectedTextColor: systemPalette.highlightedText
                font.pixelSize: 13
                Accessible.name: qsTr("Saved file")
            }

            // A read-only text shows no cursor: the frame shows where the keyboard is.
            Rectangle {
                objectName: "fileNameFocus"
                anchors.fill: lblFileName
                anchors.margins: -3
                visible: lblFileName.activeFocus
                color: "transparent"
                border.color: systemPalette.highlight
                border.width: 2
            }

            Row {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                spacing: 8

                KeyButton {
                    objectName: "btnCopyPath"
                    text: qsTr("Copy path")
                    activeFocusOnTab: true
                    onClicked: {
                        lblFileName.selectAll()
                        lblFileName.copy()
                        lblFileName.deselect()
                    }
                }

                KeyButton {
                    objectName: "btnOpenFolder"
                    text: qsTr("Open folder")
                    activeFocusOnTab: true
                    onClicked: Qt.openUrlExternally(session.savedFolderUrl)
                }

                KeyButton {
                    text: qsTr("OK")
                    activeFocusOnTab: true
                    onClicked: transferDialog.close()
                }
            }
        }
    }
}
