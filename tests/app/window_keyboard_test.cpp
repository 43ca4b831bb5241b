// The window used by keyboard alone, and what a screen reader is told of it.
#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>

#include "connector_window.h"

namespace {

// What a screen reader says of each visible item below root. Qt names a control by its text only
// while a screen reader runs, which the offscreen platform never does: the text stands in.
void spoken(QAccessibleInterface* root, QMap<QObject*, QString>& said) {
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (!child->state().invisible) {
            const QString name = child->text(QAccessible::Name);
            said[child->object()] =
                name.isEmpty() ? child->object()->property("text").toString() : name;
            spoken(child, said);
        }
    }
}

TEST_F(ConnectorWindow, DownloadsAndHandsOverByKeyboardAloneAndNamesWhatItShows) {
    plugReader();
    waitForArrival();
    auto focused = [&] {
        return window_->activeFocusItem() ? window_->activeFocusItem()->objectName() : "";
    };
    for (const auto& [getData, copyPath] :
         {std::pair{Qt::Key_Return, Qt::Key_Space}, std::pair{Qt::Key_Enter, Qt::Key_Return}}) {
        // Shown on Get Data from the reader's arrival or the dialog's closing, and kept at Tab:
        // the window's one stop.
        EXPECT_TRUE(flag("btnGetData", "visualFocus"));
        QTest::keyClick(window_, Qt::Key_Tab);
        EXPECT_EQ(focused(), "btnGetData");
        QTest::keyClick(window_, getData);
        ASSERT_TRUE(waitFor([&] { return visible("transferDialog"); }));
        QTest::keyClick(window_, Qt::Key_Tab);
        EXPECT_EQ(focused(), "lblFileName");
        EXPECT_TRUE(flag("fileNameFocus", "visible"));
        QTest::keyClick(window_, Qt::Key_Tab);
        EXPECT_EQ(focused(), "btnCopyPath");
        EXPECT_FALSE(flag("fileNameFocus", "visible"));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(window_, copyPath);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), text("lblFileName"));
        QTest::keyClick(window_, Qt::Key_Escape);
        EXPECT_FALSE(visible("transferDialog"));
    }
    EXPECT_TRUE(flag("btnGetData", "visualFocus"));

    // As under a screen reader, with every dialog open, so that all items are in the tree.
    QAccessible::setActive(true);
    item("errorDialog")->setProperty("text", "Message");
    for (const char* dialog : {"errorDialog", "progressDialog", "transferDialog"}) {
        QMetaObject::invokeMethod(item(dialog), "open");
    }
    QMap<QObject*, QString> said;
    spoken(QAccessible::queryAccessibleInterface(window_), said);
    for (QObject* object : said.keys()) {
        EXPECT_NE(said[object], "") << object->metaObject()->className();
    }
    for (const char* name : {"progressBar", "lblRecordCount", "lblFileName"}) {
        EXPECT_TRUE(said.contains(item(name))) << name;
    }
    const std::pair<const char*, const char*> values[] = {
        {"lblStatus1", "Device status"},
        {"lblReaderSerialNumber", "Sensor serial number"},
        {"lblSerialNumber", "Reader serial number"},
        {"lblReaderDateTime", "Reader date and time"},
        {"lblStatus7", "Software version"}};
    for (const auto& [name, caption] : values) {
        EXPECT_EQ(said[item(name)], caption + QString(": ") + text(name));
    }
}

}  // namespace
