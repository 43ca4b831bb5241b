import QtQuick 2.11
import QtQuick.Controls 2.4

// A dialog drawn inside the window rather than as a window of its own, which some window
// systems leave unpainted until it is resized. It holds one panel that brings its own buttons
// and sets the dialog's size; the title is shown above it.
Dialog {
    id: dialog
    modal: true
    // Takes the keyboard when it opens, so that Tab stays among its buttons and Esc reaches it.
    focus: true
    // Esc closes it like its OK; a click beside it does not.
    closePolicy: Popup.CloseOnEscape
    parent: Overlay.overlay
    x: Math.round((parent.width - width) / 2)
    y: Math.round((parent.height - height) / 2)
    // Inside the border; the panels keep their own margins.
    padding: 1
    topPadding: 0
    // Each opening starts the keyboard at the top, not where the last one left it.
    onOpened: contentItem.forceActiveFocus()

    readonly property Item panel: contentChildren.length > 0 ? contentChildren[0] : null
    // A panel that does not fit in the window below the title is shown smaller, whole, rather
    // than cut off at the window's edges. The title counts while the dialog is closed too, so
    // that it opens at the right scale.
    readonly property real fit: {
        if (!panel || !parent || parent.width <= 0 || panel.implicitWidth <= 0
                || panel.implicitHeight <= 0) {
            return 1
        }
        var titleHeight = header && title !== "" ? header.implicitHeight : 0
        return Math.min(1, (parent.width - leftPadding - rightPadding) / panel.implicitWidth,
                        (parent.height - titleHeight - topPadding - bottomPadding)
                        / panel.implicitHeight)
    }
    contentWidth: panel ? Math.floor(panel.implicitWidth * fit) : 0
    contentHeight: panel ? Math.floor(panel.implicitHeight * fit) : 0

    Binding {
        target: dialog.panel
        property: "scale"
        value: dialog.fit
    }
    Binding {
        target: dialog.panel
        property: "transformOrigin"
        value: Item.TopLeft
    }
    // Screen readers call the dialog by its title. The item that stands for the dialog is its
    // frame's parent.
    Binding {
        target: dialog.background ? dialog.background.parent : null
        property: "Accessible.name"
        value: dialog.title
    }
}
