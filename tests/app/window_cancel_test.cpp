// Cancel in the progress dialog, against a simulated reader whose table 6 takes seconds.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "connector_window.h"
#include "export/decrypter.h"

TEST_F(ConnectorWindow, CancelSavesNothingAndTheNextGetDataSavesTheWholeDocument) {
    plugReader(MakeDefaultScenario({10000, 8, 1}));
    waitForArrival();
    clickGetData();
    ASSERT_TRUE(waitFor([&] { return !text("lblRecordCount").isEmpty(); }));
    QTest::keyClick(window_, Qt::Key_Tab);  // to Cancel, the dialog's one button
    QTest::keyClick(window_, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return session_->state() == DownloadSession::Ready; }));
    EXPECT_FALSE(visible("progressDialog") || visible("errorDialog"));
    EXPECT_TRUE(QDir(appTestFolders().data()).isEmpty());

    // Records of the cancelled answer may still be arriving: none of them may show.
    clickGetData();
    ASSERT_TRUE(waitFor([&] { return visible("transferDialog"); }));
    const QByteArray file = readBytes(appTestFolders().data() + savedFiles().value(0));
    const QJsonObject document =
        QJsonDocument::fromJson(decryptDownloadFile(testKey(2048).key.get(), file).document)
            .object();
    for (const auto& [table, count] : {std::pair("records", 10000), {"events", 8}}) {
        const QJsonArray records = document[table].toArray();
        ASSERT_EQ(records.size(), count) << table;
        for (int n = 0; n < count; ++n) {
            ASSERT_EQ(records[n]["0"], QString::number(n + 1)) << table;
        }
    }
}
