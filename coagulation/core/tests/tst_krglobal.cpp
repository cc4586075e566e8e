#include "krglobal.h"
#include "oeminfo.h"

#include <QTextCodec> // QtCore under Qt 5, Core5Compat under Qt 6
#include <QtCore/QRandomGenerator>
#include <QtCore/QTranslator>
#include <QtTest/QtTest>

#include <unistd.h> // POSIX ::sleep(unsigned int) must not take our calls

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <type_traits>
#include <vector>

class tst_KrGlobal : public QObject
{
    Q_OBJECT

private slots:
    void fraction_data();
    void fraction();
    void fractionWithoutFlag();
    void fractionLinearTime();
    void fractionFromSeveralThreads();
    void volume_data();
    void volume();
    void kindVolume_data();
    void kindVolume();
    void crcCheckValues_data();
    void crcCheckValues();
    void crcMatchesBitwiseDefinition();
    void dilutionList();
    void literalsNeedNoCodecCall();
    void oemInfoTexts();
    void oemInfoTranslated();
    void sleepTakesMilliseconds();
    void boolLockerNesting();
    void waitCursorWithoutGuiApplication();
};

void tst_KrGlobal::fraction_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("ok");

    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("slash") << "1/10" << 0.1 << true;
    QTest::newRow("colon") << "1:4" << 0.25 << true;
    QTest::newRow("spaces") << " 2 / 5 " << 0.4 << true;
    QTest::newRow("negative") << "-1/2" << -0.5 << true;
    QTest::newRow("plus signs") << "+3/+4" << 0.75 << true;
    QTest::newRow("decimal") << "1.5/3" << 0.5 << true;
    QTest::newRow("trailing point") << "1./4" << 0.25 << true;
    QTest::newRow("inside text") << "dilution 1:4 done" << 0.25 << true;
    QTest::newRow("first match") << "1/2/3" << 0.5 << true;
    QTest::newRow("no leading point") << ".5/2" << 2.5 << true;
    QTest::newRow("no exponent") << "1e2/4" << 0.5 << true;
    QTest::newRow("letters") << "abc" << 0.0 << false;
    QTest::newRow("one number") << "7" << 0.0 << false;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("separator only") << "/" << 0.0 << false;
    QTest::newRow("over zero") << "1/0" << inf << true;
    QTest::newRow("negative over zero") << "-1/0" << -inf << true;
    // NaN is no ratio: "0/0" reads as none rather than as a success.
    QTest::newRow("zero over zero") << "0/0" << 0.0 << false;
    // Typed in an input method's full-width mode, or in Arabic-Indic digits:
    // each digit counts by its value.
    QTest::newRow("full-width digits") << "１/１０" << 0.1 << true;
    QTest::newRow("Arabic-Indic digits") << "稀释 ١/٤" << 0.25 << true;
    QTest::newRow("ideographic space") << "1\u3000/\u30004" << 0.25 << true;
    // A number that fails may still hold the start of one that does.
    QTest::newRow("restart inside decimals") << "1.2.3/4" << 0.575 << true;
    QTest::newRow("restart at a sign") << "1+2/4" << 0.5 << true;
}

void tst_KrGlobal::fraction()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(bool, ok);

    bool found = !ok; // must be overwritten either way
    const double result = ::fraction(text, &found);
    QCOMPARE(found, ok);
    QCOMPARE(result, value);
}

// A long run of digits with no ratio in it, as pasted by mistake into a
// dilution field: the search must stay linear (a quadratic one took 4.4 s on
// 16,000 digits, on the GUI thread).
void tst_KrGlobal::fractionLinearTime()
{
    const QString digits(16000, QLatin1Char('7'));
    const QString texts[] = {digits, digits + QStringLiteral(".") + digits,
                             digits + QStringLiteral(" / x"), QStringLiteral("1 ").repeated(8000)};
    for (const QString &text : texts) {
        QElapsedTimer clock;
        clock.start();
        bool ok = true;
        QCOMPARE(::fraction(text, &ok), 0.0);
        QVERIFY(!ok);
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    }
    bool ok = false;
    QCOMPARE(::fraction(digits + QStringLiteral("1/2"), &ok),
             (digits + QStringLiteral("1")).toDouble() / 2);
    QVERIFY(ok);
}

void tst_KrGlobal::fractionWithoutFlag()
{
    QCOMPARE(::fraction(QStringLiteral("1/2"), nullptr), 0.5);
    QCOMPARE(::fraction(QStringLiteral("x")), 0.0);
}

void tst_KrGlobal::fractionFromSeveralThreads()
{
    // Each thread reads its own ratios; a search state shared between threads
    // would hand one thread the captures of another's text.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 1; t <= 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const QString text = QStringLiteral("sample %1:%2").arg(t).arg(t * 8);
            const QString none = QStringLiteral("no ratio %1").arg(t);
            for (int i = 0; i < 20000; ++i) {
                bool ok = false;
                if (::fraction(text, &ok) != 0.125 || !ok)
                    ++wrong;
                if (::fraction(none, &ok) != 0.0 || ok)
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

void tst_KrGlobal::volume_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<QString>("text");

    QTest::newRow("250") << 250 << "250 uL";
    QTest::newRow("1000") << 1000 << "1000 uL";
    QTest::newRow("1001") << 1001 << "1.001 mL";
    QTest::newRow("1500") << 1500 << "1.5 mL";
    QTest::newRow("99 999") << 99999 << "100 mL";
    QTest::newRow("999 999") << 999999 << "1000 mL";
    QTest::newRow("1 000 000") << 1000000 << "1000 mL";
    QTest::newRow("1 000 001") << 1000001 << "1 L";
    QTest::newRow("1 234 567") << 1234567 << "1.235 L";
    QTest::newRow("2 500 000") << 2500000 << "2.5 L";
    QTest::newRow("largest") << std::numeric_limits<int>::max() << "2147 L";
    QTest::newRow("zero") << 0 << "0 uL";
    QTest::newRow("negative") << -5000000 << "-5000000 uL";
}

void tst_KrGlobal::volume()
{
    QFETCH(int, volume);
    QFETCH(QString, text);
    QCOMPARE(humanReadableVolume(volume), text);
}

void tst_KrGlobal::kindVolume_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("detailed");
    QTest::addColumn<QString>("text");

    QTest::newRow("litres, below a tenth") << 4096 << 99999 << false << "<0.1 L";
    QTest::newRow("litres, negative") << 4096 << -1 << false << "<0.1 L";
    QTest::newRow("litres, one tenth") << 4096 << 100000 << false << "0.1 L";
    QTest::newRow("litres, 2.5") << 4096 << 2500000 << false << "2.5 L";
    QTest::newRow("litres, zero kept") << 4096 << 25000000 << false << "25.0 L";
    QTest::newRow("litres, 1500") << 4096 << 1500 << false << "<0.1 L";
    QTest::newRow("detailed") << 4096 << 1500 << true << "1.5 mL";
    QTest::newRow("other kind") << 1 << 99999 << false << "100 mL";
    QTest::newRow("kind bit among others") << 0x1001 << 99999 << false << "100 mL";
}

void tst_KrGlobal::kindVolume()
{
    QFETCH(int, kind);
    QFETCH(int, volume);
    QFETCH(bool, detailed);
    QFETCH(QString, text);
    QCOMPARE(humanReadableVolume(kind, volume, detailed), text);
}

void tst_KrGlobal::crcCheckValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("crc");

    QTest::newRow("check string") << QByteArray("123456789") << 9 << 0x29B1;
    QTest::newRow("abc") << QByteArray("abc") << 3 << 0x514A;
    QTest::newRow("zero length") << QByteArray("abc") << 0 << 0xFFFF;
    QTest::newRow("negative length") << QByteArray("abc") << -1 << 0xFFFF;
}

void tst_KrGlobal::crcCheckValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, length);
    QFETCH(int, crc);
    QCOMPARE(int(crc16(data.constData(), length)), crc);
}

// The definition, one bit at a time: nothing shared with the tables under test.
static quint16 bitwiseCrc16(const uchar *data, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= quint16(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void tst_KrGlobal::crcMatchesBitwiseDefinition()
{
    QRandomGenerator random(20240611);
    QByteArray buffer(70000, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(buffer.data()), buffer.size() / 4);
    const auto *bytes = reinterpret_cast<const uchar *>(buffer.constData());

    QList<int> lengths;
    for (int length = 1; length <= 70; ++length)
        lengths << length;
    lengths << 255 << 256 << 257 << 4095 << 4096 << 65537 << 69993;
    for (int length : lengths) {
        // Unaligned starts, too: the block loop must not depend on alignment.
        for (int offset : {0, 1, 3, 7}) {
            if (offset + length > buffer.size())
                continue;
            QCOMPARE(crc16(bytes + offset, length), bitwiseCrc16(bytes + offset, length));
        }
    }
}

void tst_KrGlobal::dilutionList()
{
    QStringList list = ::dilutionList();
    QCOMPARE(list.size(), 19);
    QCOMPARE(list.first(), QStringLiteral("1/1"));
    QCOMPARE(list.at(14), QStringLiteral("1/320"));
    QCOMPARE(list.last(), QStringLiteral("4/5"));
    for (const QString &entry : list) {
        bool ok = false;
        const double ratio = ::fraction(entry, &ok);
        QVERIFY2(ok, qPrintable(entry));
        QVERIFY(ratio > 0.0 && ratio <= 1.0);
    }
    // A fresh list every time: a caller's change stays with the caller.
    list.clear();
    QCOMPARE(::dilutionList().size(), 19);
}

void tst_KrGlobal::literalsNeedNoCodecCall()
{
    // Not calling setDefaultCodec first: UTF-8 source texts must already be right.
    QCOMPARE(OemInfo::krAboutText(), QString::fromUtf8("<h2>%1</h2>\n版本: %2"));
    const QString organization = OemInfo::organizationName();
    QVERIFY(!organization.isEmpty());
    for (QChar c : organization)
        QVERIFY2(c.script() == QChar::Script_Han, qPrintable(organization));

    QTextCodec *locale = QTextCodec::codecForLocale();
    setDefaultCodec();
    setDefaultCodec();
    QCOMPARE(QTextCodec::codecForLocale(), locale);
    QCOMPARE(OemInfo::krApplicationName(), QString::fromUtf8("全自动血凝分析仪"));
}

void tst_KrGlobal::oemInfoTexts()
{
    QCOMPARE(OemInfo::reportDesignerApplicationName(), QStringLiteral("ReportDesigner"));
    QCOMPARE(OemInfo::oemIdText(), QStringLiteral("0001"));
    const QString about =
        OemInfo::krAboutText().arg(OemInfo::krApplicationName(), QStringLiteral("2.1.0"));
    const QStringList lines = about.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("<h2>%1</h2>").arg(OemInfo::krApplicationName()));
    QCOMPARE(lines.at(1), QString::fromUtf8("版本: 2.1.0"));
}

void tst_KrGlobal::oemInfoTranslated()
{
    // A translation file with the context "OemInfo" rebrands; texts it does
    // not hold keep their source.
    QTranslator rebrand;
    QVERIFY(rebrand.load(QStringLiteral(REBRAND_QM)));
    QVERIFY(QCoreApplication::installTranslator(&rebrand));
    const QString organization = OemInfo::organizationName();
    const QString id = OemInfo::oemIdText();
    const QString designer = OemInfo::reportDesignerApplicationName();
    QCoreApplication::removeTranslator(&rebrand);

    QCOMPARE(organization, QStringLiteral("Example Instruments"));
    QCOMPARE(id, QStringLiteral("0042"));
    QCOMPARE(designer, QStringLiteral("ReportDesigner"));
    QCOMPARE(OemInfo::oemIdText(), QStringLiteral("0001"));
}

void tst_KrGlobal::sleepTakesMilliseconds()
{
    // POSIX ::sleep returns unsigned int; ours returns nothing.
    static_assert(std::is_void_v<decltype(sleep(50))>, "sleep(50) resolves to POSIX sleep");

    QElapsedTimer timer;
    timer.start();
    sleep(50);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 49 && elapsed < 5000, qPrintable(QString::number(elapsed)));

    timer.restart();
    sleep(-1);
    sleep(std::numeric_limits<int>::min());
    sleep(0);
    QVERIFY(timer.elapsed() < 1000);
}

void tst_KrGlobal::boolLockerNesting()
{
    bool flag = true;
    {
        BoolLocker outer(flag, false);
        QCOMPARE(flag, false);
        {
            BoolLocker inner(flag, true);
            QCOMPARE(flag, true);
        }
        QCOMPARE(flag, false);
        flag = true; // overwritten in the block: the saved value still wins
    }
    QCOMPARE(flag, true);
}

void tst_KrGlobal::waitCursorWithoutGuiApplication()
{
    // This test runs under a plain QCoreApplication: the guard must leave the
    // GUI cursor stack alone rather than reach into a GUI application that
    // does not exist.
    QVERIFY(QCoreApplication::instance());
    WaitCursor outer;
    WaitCursor inner(Qt::ArrowCursor);
}

QTEST_GUILESS_MAIN(tst_KrGlobal)
#include "tst_krglobal.moc"
