#include "testinstallation.h"

#include <QtCore/QProcess>
#include <QtGui/QImage>
#include <QtTest/QtTest>

// The demo as the program it is, on installations in any state: it must
// finish, never waiting on a box that nobody can see.
class tst_Demo : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void tst_Demo::run_data()
{
    QTest::addColumn<QByteArray>("profileDatabase");
    QTest::addColumn<QStringList>("boxes");

    // A null profile database: the demo lays out the installation itself.
    QTest::newRow("fresh installation") << QByteArray() << QStringList();
    // The other databases are in place: the store shows one box, and every
    // step works with the settings' defaults.
    QTest::newRow("damaged profile database")
        << QByteArray("no SQLite file at all, just text\n").repeated(64)
        << QStringList{"错误的配置文件 ./profile.db"};
    QTest::newRow("empty profile database")
        << QByteArray("") << QStringList{"错误的配置文件 ./profile.db"};
}

void tst_Demo::run()
{
    QFETCH(QByteArray, profileDatabase);
    QFETCH(QStringList, boxes);

    TestInstallation dir;
    if (!profileDatabase.isNull()) {
        QVERIFY(dir.create(QStringLiteral("site"), {QStringLiteral("profile.db")}));
        QVERIFY(dir.writeFile(QStringLiteral("site/profile.db"), profileDatabase));
    }

    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(DEMO), {dir.filePath(QStringLiteral("site"))});
    QVERIFY(demo.waitForStarted());
    if (!demo.waitForFinished(60000)) {
        demo.kill();
        demo.waitForFinished();
        QFAIL("the demo did not finish within a minute");
    }
    const QString output = QString::fromUtf8(demo.readAllStandardOutput());
    QVERIFY2(demo.exitStatus() == QProcess::NormalExit, qPrintable(output));
    QVERIFY2(demo.exitCode() == 0, qPrintable(output));

    // Each box that came up is printed, and only those.
    QCOMPARE(output.count(QStringLiteral("[box]")), boxes.size());
    for (const QString &box : boxes)
        QVERIFY2(output.contains(QStringLiteral("[box]    ") + box), qPrintable(output));

    // The picture shows both the raw signal (blue) and the density (red) as
    // lines above the legend, not only as the legend's markers.
    const QString picture = dir.filePath(QStringLiteral("site/curve.png"));
    QVERIFY2(output.contains(picture), qPrintable(output));
    const QImage image(picture);
    QCOMPARE(image.size(), QSize(900, 540));
    int raw = 0, density = 0;
    for (int y = 0; y < image.height() * 3 / 4; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y) & 0xffffff;
            raw += pixel == 0x1f77b4;
            density += pixel == 0xd62728;
        }
    }
    QVERIFY2(raw > 200 && density > 200,
             qPrintable(QStringLiteral("%1 raw, %2 density pixels").arg(raw).arg(density)));
}

QTEST_GUILESS_MAIN(tst_Demo)
#include "tst_demo.moc"
