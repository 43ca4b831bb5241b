import QtQuick 2.11
import QtQuick.Controls 2.4

// A button that Enter and Return press too, not only Space: what keyboard users expect of a
// focused button.
Button {
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
}
