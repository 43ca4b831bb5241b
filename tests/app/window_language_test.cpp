// The window in each language: every text it shows fits its box, inside the window or its
// dialog, and the texts are really translated.
#include <QCoreApplication>

#include "app/translations.h"
#include "connector_window.h"

namespace {

struct Language {
    const char* name;
    const char* getData;
};

// A text item that shows text must hold it whole, and its box must lie inside area (the window,
// or the dialog it is drawn in).
void expectTextsFit(QQuickItem* item, QRectF area, const char* where) {
    if (!item->isVisible() || item->opacity() == 0) {
        return;
    }
    if (item->inherits("QQuickPopupItem")) {
        area = item->mapRectToScene(item->boundingRect());
    }
    const QString text = item->property("text").toString();
    if (item->inherits("QQuickText") && !text.isEmpty()) {
        auto size = [&](const char* property) { return item->property(property).toReal(); };
        const qreal width = item->width() - size("leftPadding") - size("rightPadding");
        const qreal height = item->height() - size("topPadding") - size("bottomPadding");
        EXPECT_FALSE(item->property("truncated").toBool()) << where << ": " << qPrintable(text);
        EXPECT_LE(size("contentWidth"), width + 0.5) << where << ": " << qPrintable(text);
        EXPECT_LE(size("contentHeight"), height + 0.5) << where << ": " << qPrintable(text);
        const QRectF box = item->mapRectToScene(item->boundingRect());
        EXPECT_TRUE(area.adjusted(-0.5, -0.5, 0.5, 0.5).contains(box))
            << where << ": " << qPrintable(text) << " lies outside its window or dialog";
    }
    for (QQuickItem* child : item->childItems()) {
        expectTextsFit(child, area, where);
    }
}

class WindowLanguage : public ConnectorWindow, public ::testing::WithParamInterface<Language> {
protected:
    void SetUp() override {
        // The window's .qm files are built beside the test programs' folders.
        installTranslators({QString::fromLatin1(GetParam().name)},
                           {QCoreApplication::applicationDirPath() + "/../../translations"});
        ConnectorWindow::SetUp();
    }
    // Back to English before the fixture waits for its English status text.
    void TearDown() override {
        installTranslators({});
        engine_->retranslate();
        ConnectorWindow::TearDown();
    }

    void expectFits(const char* where) {
        expectTextsFit(window_->contentItem(), QRectF(0, 0, window_->width(), window_->height()),
                       where);
    }
    void expectDialogFits(const char* dialog) {
        QMetaObject::invokeMethod(item(dialog), "open");
        ASSERT_TRUE(waitFor([&] { return flag(dialog, "opened"); }));
        expectFits(dialog);
        QMetaObject::invokeMethod(item(dialog), "close");
        ASSERT_TRUE(waitFor([&] { return !visible(dialog); }));
    }
};

TEST_P(WindowLanguage, EveryTextFitsItsBox) {
    EXPECT_EQ(text("btnGetData"), QString::fromUtf8(GetParam().getData));
    expectFits("waiting");
    plugReader();
    waitForArrival();
    ASSERT_TRUE(waitFor([&] { return !session_->readerClock().isEmpty(); }));
    expectFits("connected");

    // The longest status, message and record count each language has.
    item("lblStatus1")
        ->setProperty("text", QCoreApplication::translate(
                                  "DeviceClient",
                                  "a reader is plugged in at %1 but this user may not open it: "
                                  "install the udev rule (see README) and plug it in again")
                                  .arg("/dev/hidraw12"));
    expectFits("access denied");
    item("errorDialog")
        ->setProperty("text", QCoreApplication::translate(
                                  "FileUtil",
                                  "This user may not write to the sensor folder %1. Change its "
                                  "permissions, or set data_dir in %2 to a folder this user may "
                                  "write to.")
                                  .arg(appTestFolders().data() + "S1", appTestFolders().config()));
    expectDialogFits("errorDialog");
    item("lblRecordCount")
        ->setProperty("text", QCoreApplication::translate("main", "%1 records").arg(50000));
    expectDialogFits("progressDialog");
    expectDialogFits("transferDialog");
}

INSTANTIATE_TEST_SUITE_P(, WindowLanguage,
                         ::testing::Values(Language{"en", "Get Data"},
                                           Language{"de", "Daten abrufen"},
                                           Language{"fr", "Récupérer les données"},
                                           Language{"es", "Obtener datos"},
                                           Language{"it", "Scarica i dati"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
