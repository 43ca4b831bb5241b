// The window in each language: every text fits its box, and the texts are really translated.
#include <QCoreApplication>
#include <QFontDatabase>

#include "app/translations.h"
#include "connector_window.h"

namespace {

// A text item holds its text whole, inside area (the window, or the dialog it is drawn in).
void expectTextsFit(QQuickItem* item, QRectF area, const char* where) {
    if (!item->isVisible() || item->opacity() == 0) {
        return;
    }
    if (item->inherits("QQuickPopupItem")) {
        area = item->mapRectToScene(item->boundingRect());
    }
    const QString text = item->property("text").toString();
    auto size = [&](const char* property) { return item->property(property).toReal() - 1; };
    if (item->inherits("QQuickText") && !text.isEmpty()) {
        SCOPED_TRACE(std::string(where) + ": " + text.toStdString());
        EXPECT_FALSE(item->property("truncated").toBool());
        EXPECT_LE(size("contentWidth"), item->width());
        EXPECT_LE(size("contentHeight"), item->height());
        EXPECT_TRUE(
            area.adjusted(-1, -1, 1, 1).contains(item->mapRectToScene(item->boundingRect())));
    }
    for (QQuickItem* child : item->childItems()) {
        expectTextsFit(child, area, where);
    }
}

// Each language, and its "Get Data".
class WindowLanguage : public ConnectorWindow,
                       public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
protected:
    void SetUp() override {
        installTranslators({GetParam().first},
                           {QCoreApplication::applicationDirPath() + "/../../translations"});
        ConnectorWindow::SetUp();
    }
    // English again, as the fixture waits for its English status text.
    void TearDown() override {
        installTranslators({});
        engine_->retranslate();
        ConnectorWindow::TearDown();
    }
    void expectFits(const char* where) {
        expectTextsFit(window_->contentItem(), QRectF(QPointF(), window_->size()), where);
    }
    void expectDialogFits(const char* dialog, const char* label, const QString& text) {
        item(label)->setProperty("text", text);
        QMetaObject::invokeMethod(item(dialog), "open");
        ASSERT_TRUE(waitFor([&] { return flag(dialog, "opened"); }));
        expectFits(dialog);
        QMetaObject::invokeMethod(item(dialog), "close");
    }
};

TEST_P(WindowLanguage, EveryTextFitsItsBox) {
    EXPECT_EQ(text("btnGetData"), QString::fromUtf8(GetParam().second));
    // The layout is measured in Arial's widths; Qt under Wine has no such font.
    const QStringList fonts = QFontDatabase().families();
    if (!fonts.contains("Arial") && !fonts.contains("Liberation Sans")) {
        GTEST_SKIP() << "no font of Arial's widths";
    }
    expectFits("waiting");
    plugReader();
    waitForArrival();
    ASSERT_TRUE(waitFor([&] { return !session_->readerClock().isEmpty(); }));
    expectFits("connected");
    // The longest status (checked with the dialog over it), message and record count.
    const QString access = QCoreApplication::translate(
        "DeviceClient",
        "a reader is plugged in at %1 but this user may not open it: install the udev rule (see "
        "README) and plug it in again");
    item("lblStatus1")->setProperty("text", access.arg("/dev/hidraw12"));
    const QString folder = QCoreApplication::translate(
        "FileUtil",
        "This user may not write to the sensor folder %1. Change its permissions, or set data_dir "
        "in %2 to a folder this user may write to.");
    const AppTestFolders& at = appTestFolders();
    expectDialogFits("errorDialog", "errorText", folder.arg(at.data(), at.config()));
    const QString records = QCoreApplication::translate("main", "%1 records").arg(50000);
    expectDialogFits("progressDialog", "lblRecordCount", records);
    expectDialogFits("transferDialog", "lblFileName", at.data());
}

const std::pair<const char*, const char*> kLanguages[] = {{"en", "Get Data"},
                                                          {"de", "Daten abrufen"},
                                                          {"fr", "Récupérer les données"},
                                                          {"es", "Obtener datos"},
                                                          {"it", "Scarica i dati"}};
INSTANTIATE_TEST_SUITE_P(, WindowLanguage, ::testing::ValuesIn(kLanguages),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace
