// The window in each language: every text fits its box, and the texts are really translated.
#include <QCoreApplication>
#include <QFontDatabase>

#include "app/translations.h"
#include "connector_window.h"

namespace {

// A text item showing text holds it whole, and its box lies inside area (the window, or the
// dialog it is drawn in).
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
        ASSERT_TRUE(waitFor([&] { return !visible(dialog); }));
    }
};

TEST_P(WindowLanguage, EveryTextFitsItsBox) {
    EXPECT_EQ(text("btnGetData"), QString::fromUtf8(GetParam().second));
    // The layout is measured for Arial's widths: without such a font (Qt under Wine has none)
    // nothing can be said about what fits.
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
    auto tr = [](const char* context, const char* text) {
        return QCoreApplication::translate(context, text);
    };
    const char* access =
        "a reader is plugged in at %1 but this user may not open it: install the "
        "udev rule (see README) and plug it in again";
    item("lblStatus1")->setProperty("text", tr("DeviceClient", access).arg("/dev/hidraw12"));
    const char* folder =
        "This user may not write to the sensor folder %1. Change its permissions, "
        "or set data_dir in %2 to a folder this user may write to.";
    expectDialogFits(
        "errorDialog", "errorText",
        tr("FileUtil", folder).arg(appTestFolders().data(), appTestFolders().config()));
    expectDialogFits("progressDialog", "lblRecordCount", tr("main", "%1 records").arg(50000));
    expectDialogFits("transferDialog", "lblFileName", appTestFolders().data());
}

INSTANTIATE_TEST_SUITE_P(, WindowLanguage,
                         ::testing::Values(std::pair("en", "Get Data"),
                                           std::pair("de", "Daten abrufen"),
                                           std::pair("fr", "Récupérer les données"),
                                           std::pair("es", "Obtener datos"),
                                           std::pair("it", "Scarica i dati")),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace
