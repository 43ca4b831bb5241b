import QtQuick 2.11
import QtQuick.Controls 2.4
import com.norvane.qml.fileutil 1.0
import com.norvane.qml.downloadmediator 1.0
import com.norvane.qml.fileurl 1.0
import "global.js" as Global

ApplicationWindow {
    id: window
    visible: true
    width: 600
    height: 380
    minimumWidth: 600
    maximumWidth: 600
    minimumHeight: 380
    maximumHeight: 380
    title: qsTr("Norvane Lumora Kelo Connector")
    // The fixed positions need a font of Arial's widths; fontconfig maps the name to its metric
    // twin (Liberation Sans) where Arial itself is missing.
    font.family: "Arial"

    readonly property string notAnswering:
        qsTr("The reader does not answer. Unplug it and plug it in again.")

    // The requests run on the download worker: the answers fill the labels as they come.
    // Whether a reader is attached; while none is, the status line says when one is plugged in
    // that this user may not open.
    property bool readerPresent: false
    property bool accessDenied: false
    readonly property string pleaseConnect: qsTr("Please Connect the Reader.")

    function readerArrived() {
        readerPresent = true
        console.log("The reader is now connected.")
        lblStatus1.text = qsTr("The reader is connected.")
        downloadMediator.beginArrival()
    }

    function serialNumberReady(serialNumber) {
        lblSerialNumber.text = serialNumber
    }

    // The answer may come after the reader's removal, queued behind it: then it enables nothing.
    function readerClockReady(clock) {
        if (!readerPresent) {
            return
        }
        lblReaderDateTime.text = clock
        btnGetData.enabled = true
    }

    // An arrival or a download gave up on a reader that stays plugged in; nothing was saved.
    function readerNotAnswering() {
        console.log(notAnswering)
        lblStatus1.text = notAnswering
        btnGetData.enabled = false
        if (progressDialog.visible) {
            endProgress()
            showError(notAnswering)
        }
    }

    // Said before any download, so that a download is never thrown away at the end.
    function setupUsable() {
        var problem = fileio.setupProblem()
        if (problem !== "") {
            showError(problem)
        }
        return problem === ""
    }

    function readerRemoved() {
        readerPresent = false
        console.log("The reader is now disconnected.")
        lblStatus1.text = qsTr("The reader is disconnected.")
        lblReaderSerialNumber.text = ""
        btnGetData.enabled = false
        endProgress()
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

    // results: the document's bytes, held as they are and handed to FileUtil unread; sensorId:
    // the id its first record names, trimmed. Only a document that names its sensor may be
    // saved: the id is its folder and file name.
    function resultsReady(results, sensorId) {
        if (results.byteLength === 0) {
            endProgress()
            showError(qsTr("No data to report from the Sensor."))
            return
        }
        if (sensorId === "") {
            endProgress()
            showError(qsTr("The reader's data does not name the sensor. Nothing was saved."))
            return
        }
        lblReaderSerialNumber.text = sensorId
        Global.filename = lblReaderSerialNumber.text + "_" + Global.getISODateFileString()
                + "_data.json"
        var path = fileio.combineSensorDirAndFilename(sensorId, Global.filename)
        // FileUtil has already shown why when it gives no path or cannot save; offering the
        // file then would hand out a file that is not there.
        var saved = path !== "" && fileio.write(path, results)
        timer1.stop()
        progressDialog.close()
        if (!saved) {
            return
        }
        lblFileName.text = FileUrl.shownPath(path)
        transferDialog.open()
        draggable.Drag.mimeData = { "text/uri-list": FileUrl.fromLocalPath(path) }
    }

    // A download that the reader's removal ended: the removal handler tells the user.
    function downloadAborted(reason) {
        console.log(reason)
        endProgress()
    }

    Page1Form {
        id: page1
        objectName: "page1"

        Label {
            id: lblStatus1
            objectName: "lblStatus1"
            x: 140
            y: 172
            width: 450
            height: 24
            text: pleaseConnect
            textFormat: Text.PlainText
            // A long message (a path that may not be opened) shrinks to fit rather than run off
            // the window.
            wrapMode: Text.WordWrap
            fontSizeMode: Text.Fit
            minimumPixelSize: 9
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblReaderSerialNumber
            objectName: "lblReaderSerialNumber"
            x: 220
            y: 198
            width: 300
            height: 21
            text: qsTr("")
            textFormat: Text.PlainText
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblSerialNumber
            objectName: "lblSerialNumber"
            x: 220
            y: 223
            width: 300
            height: 21
            text: qsTr("")
            textFormat: Text.PlainText
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblReaderDateTime
            objectName: "lblReaderDateTime"
            x: 385
            y: 307
            width: 140
            height: 21
            text: "<device not connected>"
            textFormat: Text.PlainText
            font.pixelSize: 17
            topPadding: 0
        }

        Button {
            id: btnGetData
            objectName: "btnGetData"
            anchors.left: parent.left
            anchors.leftMargin: 9
            y: 260
            text: qsTr("Get Data")
            font.pixelSize: 17
            enabled: false
            flat: false
            onClicked: {
                if (!setupUsable()) {
                    return
                }
                lblRecordCount.text = ""
                progressDialog.open()
                timer1.start()
                downloadMediator.beginDownload()
            }
        }

        Component.onCompleted: {
            client.onConnected.connect(readerArrived)
            client.onDisconnected.connect(readerRemoved)
            downloadMediator.onResultsReady.connect(resultsReady)
            downloadMediator.onDownloadAborted.connect(downloadAborted)
            downloadMediator.onSerialNumber.connect(serialNumberReady)
            downloadMediator.onReaderClock.connect(readerClockReady)
            downloadMediator.onReaderNotAnswering.connect(readerNotAnswering)
            client.onRecordCount.connect(function(count) {
                lblRecordCount.text = count === 1 ? qsTr("1 record") : qsTr("%1 records").arg(count)
            })
            setupUsable()
        }
    }

    FileUtil {
        id: fileio
        onRaiseErrorMessage: showError(message)
    }

    Timer {
        id: accessCheck
        interval: 1000
        repeat: true
        running: !readerPresent
        onTriggered: {
            var problem = client.readerAccessProblem()
            if (problem !== "") {
                accessDenied = true
                lblStatus1.text = problem.charAt(0).toUpperCase() + problem.slice(1) + "."
            } else if (accessDenied) {
                accessDenied = false
                lblStatus1.text = pleaseConnect
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
            Global.i += 10
            if (Global.i === 100) {
                timer1.stop()
                return
            }
            progressBar.value = Global.i % 100
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

            Button {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                text: qsTr("OK")
                onClicked: errorDialog.close()
            }
        }
    }

    PanelDialog {
        id: progressDialog
        objectName: "progressDialog"
        title: qsTr("Progress")

        // Larger than the bar it holds, so that nothing is cut off.
        Item {
            implicitWidth: 300
            implicitHeight: 130

            Label {
                y: 14
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Downloading the reader's data...")
                font.pixelSize: 15
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
            }

            // Records of the table being received, next to the bar.
            Label {
                id: lblRecordCount
                objectName: "lblRecordCount"
                anchors.left: progressBar.right
                anchors.leftMargin: 10
                anchors.verticalCenter: progressBar.verticalCenter
                textFormat: Text.PlainText
                font.pixelSize: 13
            }

            Button {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                text: qsTr("OK")
                onClicked: progressDialog.close()
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
                Drag.mimeData: ({ "text/uri-list": "file:///" + Global.filename })
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
            }

            Row {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                spacing: 8

                Button {
                    objectName: "btnCopyPath"
                    text: qsTr("Copy path")
                        activeFocusOnTab: true
                    onClicked: {
                        lblFileName.selectAll()
                        lblFileName.copy()
                        lblFileName.deselect()
                    }
                }

                Button {
                    objectName: "btnOpenFolder"
                    text: qsTr("Open folder")
                        activeFocusOnTab: true
                    onClicked: Qt.openUrlExternally(FileUrl.folderOf(lblFileName.text))
                }

                Button {
                    text: qsTr("OK")
                        activeFocusOnTab: true
                    onClicked: transferDialog.close()
                }
            }
        }
    }
}
