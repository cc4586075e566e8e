#include "analysisresult.h"
#include "profile.h"
#include "resulttextreference.h"
#include "testinstallation.h"

#include <QtGui/QBrush>
#include <QtTest/QtTest>

#include <functional>
#include <thread>

using R = AnalysisResult;
Q_DECLARE_METATYPE(AnalysisResult::ErrorCode)
Q_DECLARE_METATYPE(AnalysisResult::Format)

using Marks = QMap<QString, QString>; // setting key -> text, for this process only

class tst_ResultText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void toString_data();
    void toString();
    void foregroundRole_data();
    void foregroundRole();
    void reconfiguredColorTakesEffect();
    void toVariant();
    void parse_data();
    void parse();
    void roundTrip_data();
    void roundTrip();
    void agreesWithPattern_data();
    void agreesWithPattern();
    void changesShowAtNextCall();
    void parseReportsFailure_data();
    void parseReportsFailure();

private:
    void configure(const Marks &marks);

    TestInstallation m_installation;
    QStringList m_configured;
};

static R make(R::ErrorCode error, double value, int flags)
{
    R result(error, value);
    result.setFlags(flags);
    return result;
}

static const Marks reconfigured = {
    {"manual_input_flag", "MAN"},     {"dilution_result_flag", "x2"},
    {"lower_report_limit_flag", "≤"}, {"upper_report_limit_flag", "≥"},
    {"lower_mark_limit_flag", "LOW"}, {"upper_mark_limit_flag", "HIGH"},
    {"result_not_clotted", "NC"},     {"result_can_not_be_calculated", "n/a"},
};

static const Marks emptied = {
    {"manual_input_flag", ""},       {"dilution_result_flag", ""},  {"lower_report_limit_flag", ""},
    {"upper_report_limit_flag", ""}, {"lower_mark_limit_flag", ""}, {"upper_mark_limit_flag", ""},
    {"result_not_clotted", ""},
};

void tst_ResultText::initTestCase()
{
    QVERIFY(m_installation.create());
    m_installation.enter();
    QVERIFY(Profile::instance().database().isOpen());
}

void tst_ResultText::configure(const Marks &marks)
{
    for (auto it = marks.begin(); it != marks.end(); ++it) {
        Profile::instance().setValue(it.key(), it.value(), false);
        m_configured << it.key();
    }
}

// Back to the built-in defaults: an invalid value makes every getter fall back.
void tst_ResultText::cleanup()
{
    for (const QString &key : qAsConst(m_configured))
        Profile::instance().setValue(key, QVariant(), false);
    m_configured.clear();
}

void tst_ResultText::toString_data()
{
    QTest::addColumn<Marks>("marks");
    QTest::addColumn<R>("result");
    QTest::addColumn<char>("letter");
    QTest::addColumn<int>("precision");
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("brief");

    const R marked = make(R::ValidNumber, 12.5, 0x8024);
    QTest::newRow("all marks") << Marks() << marked << 'f' << 1 << "M< 12.5 ↑"
                               << "< 12.5";
    QTest::newRow("reconfigured marks") << reconfigured << marked << 'f' << 1 << "MAN≤ 12.5 HIGH"
                                        << "≤ 12.5";
    QTest::newRow("emptied marks") << emptied << marked << 'f' << 1 << "12.5"
                                   << "12.5";
    QTest::newRow("null") << Marks() << R() << 'f' << 1 << ""
                          << "";
    QTest::newRow("placeholder") << Marks() << make(R::InvalidStandardCurve, 1.0, 0x8024) << 'f'
                                 << 1 << "---.-"
                                 << "---.-";
    QTest::newRow("reconfigured placeholder")
        << reconfigured << R(R::NoStandardCurve) << 'f' << 1 << "n/a"
        << "n/a";
    QTest::newRow("not clotted ignores flags")
        << Marks() << make(R::NotClotted, 999.9, 0x8024) << 'f' << 1 << "不凝"
        << "不凝";
    QTest::newRow("code 3 holding 999.9")
        << Marks() << R(R::NoStandardCurve, 999.9) << 'f' << 1 << "不凝"
        << "不凝";
    QTest::newRow("negative precision") << Marks() << R(1234567.0) << 'f' << -1 << "1.23457e+06"
                                        << "1.23457e+06";
    QTest::newRow("upper report only")
        << Marks() << make(R::ValidNumber, 5.0, 0x0008) << 'g' << 6 << "> 5"
        << "> 5";
    QTest::newRow("lower mark only")
        << Marks() << make(R::ValidNumber, 5.0, 0x0010) << 'g' << 6 << "5 ↓"
        << "5";
    QTest::newRow("both report marks")
        << Marks() << make(R::ValidNumber, 5.0, 0x000C) << 'g' << 6 << "< 5"
        << "< 5";
    QTest::newRow("both arrows") << Marks() << make(R::ValidNumber, 5.0, 0x0030) << 'g' << 6
                                 << "5 ↓"
                                 << "5";
    QTest::newRow("code not consulted for marks")
        << Marks() << R(R::LessThan, 5.0) << 'g' << 6 << "5"
        << "5";
    QTest::newRow("dilution and manual input")
        << Marks() << make(R::GreaterThan, 2.0, 0x800A) << 'e' << 2 << "M!> 2.00e+00"
        << "> 2.00e+00";
    QTest::newRow("manual test has no mark")
        << Marks() << make(R::ValidNumber, 3.0, 0x1000) << 'f' << 0 << "3"
        << "3";
}

void tst_ResultText::toString()
{
    QFETCH(Marks, marks);
    QFETCH(R, result);
    QFETCH(char, letter);
    QFETCH(int, precision);
    QFETCH(QString, full);
    QFETCH(QString, brief);
    configure(marks);
    QCOMPARE(result.toString(R::FullText, letter, precision), full);
    QCOMPARE(result.toString(R::BriefText, letter, precision), brief);
    QCOMPARE(result.toString(R::Format(7), letter, precision), brief);
}

void tst_ResultText::foregroundRole_data()
{
    QTest::addColumn<R>("result");
    QTest::addColumn<QColor>("color"); // invalid: no foreground

    const QColor red(255, 0, 0), orange(255, 170, 0);
    QTest::newRow("plain number") << R(1.0) << QColor();
    QTest::newRow("null") << R() << red;
    QTest::newRow("not clotted") << R(999.9) << red;
    QTest::newRow("error with flags") << make(R::NoStandardCurve, 0, 0x0020) << red;
    QTest::newRow("both report limits") << make(R::ValidNumber, 1, 0x000C) << red;
    QTest::newRow("upper mark") << make(R::ValidNumber, 1, 0x0020) << orange;
    QTest::newRow("both marks") << make(R::ValidNumber, 1, 0x0030) << orange;
    QTest::newRow("report beats mark") << make(R::ValidNumber, 1, 0x0014) << red;
    QTest::newRow("unmarked flags") << make(R::ValidNumber, 1, 0x9002) << QColor();
}

void tst_ResultText::foregroundRole()
{
    QFETCH(R, result);
    QFETCH(QColor, color);
    const QVariant role = result.foregroundRole();
    if (!color.isValid()) {
        QVERIFY(!role.isValid());
        return;
    }
    QCOMPARE(role.userType(), int(QMetaType::QBrush));
    const QBrush brush = role.value<QBrush>();
    QCOMPARE(brush.style(), Qt::SolidPattern);
    QCOMPARE(brush.color(), color);
}

// Each colour comes from its own setting, in priority order: upper report,
// lower report, upper mark, lower mark.
void tst_ResultText::reconfiguredColorTakesEffect()
{
    Profile &profile = Profile::instance();
    const QList<QPair<QString, QColor>> colors = {
        {"color_of_null_result", Qt::gray},      {"color_of_upper_report", Qt::blue},
        {"color_of_lower_report", Qt::darkBlue}, {"color_of_upper_mark", Qt::green},
        {"color_of_lower_mark", Qt::darkGreen},
    };
    for (const auto &setting : colors) {
        profile.setValue(setting.first, setting.second, false);
        m_configured << setting.first;
    }
    auto colorOf = [](const R &r) {
        return r.foregroundRole().value<QBrush>().color();
    };
    QCOMPARE(colorOf(R()), QColor(Qt::gray));
    QCOMPARE(colorOf(make(R::ValidNumber, 1, 0x003C)), QColor(Qt::blue));
    QCOMPARE(colorOf(make(R::ValidNumber, 1, 0x0034)), QColor(Qt::darkBlue));
    QCOMPARE(colorOf(make(R::ValidNumber, 1, 0x0030)), QColor(Qt::green));
    QCOMPARE(colorOf(make(R::ValidNumber, 1, 0x0010)), QColor(Qt::darkGreen));
}

void tst_ResultText::toVariant()
{
    QCOMPARE(R(2.5).toVariant(), QVariant(2.5));
    QCOMPARE(R(R::GreaterThan, 7.0).toVariant(), QVariant(7.0));
    QVERIFY(!R(999.9).toVariant().isValid());
    QVERIFY(!R().toVariant().isValid());
}

void tst_ResultText::parse_data()
{
    QTest::addColumn<Marks>("marks");
    QTest::addColumn<QString>("text");
    QTest::addColumn<R::ErrorCode>("error");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("flags");

    QTest::newRow("all marks") << Marks() << "M< 12.5 ↑" << R::LessThan << 12.5 << 0x8024;
    QTest::newRow("upper limit wins") << Marks() << "<>5" << R::GreaterThan << 5.0 << 0x000C;
    QTest::newRow("marks in any order") << Marks() << "!M5" << R::ValidNumber << 5.0 << 0x8002;
    QTest::newRow("not clotted") << Marks() << " 不凝 " << R::NotClotted << 999.9 << 0;
    QTest::newRow("zero is a number") << Marks() << "0" << R::ValidNumber << 0.0 << 0;
    QTest::newRow("999.9 is a number") << Marks() << "999.9" << R::ValidNumber << 999.9 << 0;
    QTest::newRow("exponent") << Marks() << "1e3" << R::ValidNumber << 1000.0 << 0;
    QTest::newRow("leading point") << Marks() << ".5" << R::ValidNumber << 0.5 << 0;
    QTest::newRow("negative") << Marks() << "-3" << R::ValidNumber << -3.0 << 0;
    QTest::newRow("both arrows") << Marks() << "5↑↓" << R::ValidNumber << 5.0 << 0x0030;
    QTest::newRow("placeholder") << Marks() << "---.-" << R::NullResult << 0.0 << 0;
    QTest::newRow("empty") << Marks() << "" << R::NullResult << 0.0 << 0;
    QTest::newRow("words") << Marks() << "abc" << R::NullResult << 0.0 << 0;
    QTest::newRow("space between marks") << Marks() << "M <5" << R::NullResult << 0.0 << 0;
    QTest::newRow("mark after number") << Marks() << "5 M" << R::NullResult << 0.0 << 0;
    QTest::newRow("arrow before number") << Marks() << "↑5" << R::NullResult << 0.0 << 0;
    QTest::newRow("comma decimal") << Marks() << "1,5" << R::NullResult << 0.0 << 0;
    QTest::newRow("reconfigured") << reconfigured << "MANx2≥ 7 LOW" << R::GreaterThan << 7.0
                                  << 0x801A;
    QTest::newRow("reconfigured not clotted")
        << reconfigured << "NC" << R::NotClotted << 999.9 << 0;
    QTest::newRow("old mark no longer read") << reconfigured << "M5" << R::NullResult << 0.0 << 0;
    QTest::newRow("emptied: only numbers") << emptied << " 42 " << R::ValidNumber << 42.0 << 0;
    QTest::newRow("emptied: no marks") << emptied << "M42" << R::NullResult << 0.0 << 0;
    QTest::newRow("emptied: no word") << emptied << "不凝" << R::NullResult << 0.0 << 0;
    QTest::newRow("regexp characters in marks")
        << Marks{{"manual_input_flag", "*"}, {"dilution_result_flag", "(.)"}} << "(.)*3"
        << R::ValidNumber << 3.0 << 0x8002;
}

void tst_ResultText::parse()
{
    QFETCH(Marks, marks);
    QFETCH(QString, text);
    QFETCH(R::ErrorCode, error);
    QFETCH(double, value);
    QFETCH(int, flags);
    configure(marks);

    const R parsed = R::fromString(text);
    QCOMPARE(parsed.error(), error);
    QCOMPARE(parsed.value(), value);
    QCOMPARE(parsed.flags(), flags);
    if (error == R::NullResult && flags == 0)
        QVERIFY(parsed.isCopyOf(R())); // untouched default result
    const R constructed(text);
    QVERIFY(constructed == parsed);
    QCOMPARE(constructed.flags(), flags);
}

void tst_ResultText::roundTrip_data()
{
    QTest::addColumn<Marks>("marks");
    QTest::newRow("default marks") << Marks();
    QTest::newRow("reconfigured marks") << reconfigured;
    QTest::newRow("emptied marks") << emptied;
}

// Whatever the current settings print, the parser reads back: code, number
// and the printed flags.
void tst_ResultText::roundTrip()
{
    QFETCH(Marks, marks);
    configure(marks);

    const int printable[] = {0, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x8000, 0x8026, 0x801A};
    const bool marksShown = marks != emptied;
    for (int flags : printable) {
        for (double value : {12.5, -0.25, 1e-3, 123456.0}) {
            R result(value);
            result.setFlags(flags);
            result.flagsToError();
            const QString text = result.toString(R::FullText, 'g', 17);
            const R back(text);
            const int expectedFlags = marksShown ? flags : 0;
            QVERIFY2(back.flags() == expectedFlags, qPrintable(text));
            QVERIFY2(back.value() == value, qPrintable(text));
            QVERIFY2(back.error() == (marksShown ? result.error() : R::ValidNumber),
                     qPrintable(text));
        }
    }
    const R notClotted(999.9);
    const bool wordShown =
        !marks.contains("result_not_clotted") || !marks["result_not_clotted"].isEmpty();
    QCOMPARE(R(notClotted.toString()).error(), wordShown ? R::NotClotted : R::NullResult);
}

// Configurations whose marks overlap each other, the numbers and the white
// space, where a scan that merely looks plausible would split differently.
void tst_ResultText::agreesWithPattern_data()
{
    QTest::addColumn<Marks>("marks");
    QTest::newRow("default marks") << Marks();
    QTest::newRow("reconfigured marks") << reconfigured;
    QTest::newRow("emptied marks") << emptied;
    QTest::newRow("overlapping marks")
        << Marks{{"manual_input_flag", "M"},       {"dilution_result_flag", "MM"},
                 {"lower_report_limit_flag", "<"}, {"upper_report_limit_flag", "<<"},
                 {"lower_mark_limit_flag", "↓"},   {"upper_mark_limit_flag", "↓↑"},
                 {"result_not_clotted", "N(C)+"}};
    QTest::newRow("marks made of number characters")
        << Marks{{"manual_input_flag", "+"},        {"dilution_result_flag", "1"},
                 {"lower_report_limit_flag", "12"}, {"upper_report_limit_flag", "."},
                 {"lower_mark_limit_flag", "5"},    {"upper_mark_limit_flag", "e5"},
                 {"result_not_clotted", "1x"}};
    // Splits that two complete matches make differently: each part is
    // non-empty if it can be, then as early and as long as it can be.
    QTest::newRow("the word a space, an arrow a digit")
        << Marks{{"upper_mark_limit_flag", "1"}, {"result_not_clotted", " "}};
    QTest::newRow("the word after white space")
        << Marks{{"lower_mark_limit_flag", "٣1"}, {"result_not_clotted", " 0"}};
    QTest::newRow("a mark of white space, a mark with a full-width digit")
        << Marks{{"dilution_result_flag", "1３"},
                 {"upper_report_limit_flag", " "},
                 {"result_not_clotted", "0"}};
    QTest::newRow("marks with white space")
        << Marks{{"manual_input_flag", " "},       {"dilution_result_flag", " M"},
                 {"lower_report_limit_flag", "M"}, {"upper_report_limit_flag", "M"},
                 {"lower_mark_limit_flag", " "},   {"upper_mark_limit_flag", "↑ "},
                 {"result_not_clotted", " 不凝"}};
}

void tst_ResultText::agreesWithPattern()
{
    QFETCH(Marks, marks);
    configure(marks);

    QString alphabet = QStringLiteral("0123456789+-.eE \t\u3000\u0085１x");
    for (const QString &text : marks)
        alphabet += text;
    alphabet += QStringLiteral("M<>!↓↑不凝");
    QStringList texts = {"M< 12.5 ↑", "<<5", "MMM5",   "125",  "+5",     "1555", "1e5", "  5 ",
                         "1x",        "1x5", " M 5↑ ", "5↓↑↓", "-.5e-3", "１２", "1.",  ".e1"};
    QRandomGenerator random(20261207);
    while (texts.size() < 4000) {
        QString text;
        const int length = int(random.bounded(12));
        for (int i = 0; i < length; ++i)
            text += alphabet.at(int(random.bounded(alphabet.size())));
        texts << text;
    }
    int differences = 0;
    for (const QString &text : qAsConst(texts)) {
        const R expected = parseWithPattern(text);
        const R actual(text);
        const bool same = actual.error() == expected.error() && actual.flags() == expected.flags()
            && QByteArray::number(actual.value(), 'g', 17)
                == QByteArray::number(expected.value(), 'g', 17);
        if (!same && ++differences <= 5)
            qWarning("\"%s\": code %d, %g, flags 0x%x; the pattern gives %d, %g, 0x%x",
                     qPrintable(text), actual.error(), actual.value(), actual.flags(),
                     expected.error(), expected.value(), expected.flags());
    }
    QCOMPARE(differences, 0);
}

// Views on the GUI thread and on a worker keep what they formatted last; a
// setting changed on either thread, or a new translation, shows at the very
// next call everywhere.
void tst_ResultText::changesShowAtNextCall()
{
    const R marked = make(R::ValidNumber, 5.0, kr::ManualInputFlag);
    const auto onWorker = [](const std::function<QString()> &work) {
        QString text;
        std::thread worker([&] { text = work(); });
        worker.join();
        return text;
    };
    const auto formatted = [&] {
        return marked.toString(R::FullText, 'f', 0);
    };
    QCOMPARE(formatted(), QStringLiteral("M 5"));
    QCOMPARE(onWorker(formatted), QStringLiteral("M 5"));

    configure({{"manual_input_flag", "手"}});
    QCOMPARE(onWorker(formatted), QStringLiteral("手 5"));
    QCOMPARE(formatted(), QStringLiteral("手 5"));
    QCOMPARE(R::fromString(QStringLiteral("手 5")).flags(), int(kr::ManualInputFlag));
    onWorker([&] {
        Profile::instance().setValue(QStringLiteral("manual_input_flag"), QStringLiteral("H"),
                                     false);
        return QString();
    });
    QCOMPARE(formatted(), QStringLiteral("H 5"));

    const R notClotted(R::NotClotted);
    QCOMPARE(notClotted.toString(), QStringLiteral("不凝"));
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(KR_EN_QM)));
    QCoreApplication::installTranslator(&english);
    QCOMPARE(notClotted.toString(), QStringLiteral("No clot"));
    QCOMPARE(onWorker([&] { return notClotted.toString(); }), QStringLiteral("No clot"));
    QCoreApplication::removeTranslator(&english);
    QCOMPARE(notClotted.toString(), QStringLiteral("不凝"));
}

void tst_ResultText::parseReportsFailure_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("number with marks") << "M< 12.5 ↑" << true;
    QTest::newRow("not clotted") << "不凝" << true;
    QTest::newRow("placeholder") << " ---.- " << true;
    QTest::newRow("empty cell") << "" << true;
    QTest::newRow("white space") << "  " << true;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("comma decimal") << "12,5" << false;
    QTest::newRow("marks only") << "M<" << false;
    QTest::newRow("full-width digits") << "１２" << false; // read as a number, not convertible
}

void tst_ResultText::parseReportsFailure()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    bool parsed = !ok;
    const R result = R::fromString(text, &parsed);
    QCOMPARE(parsed, ok);
    QVERIFY(result == R::fromString(text)); // the same result either way
}

QTEST_GUILESS_MAIN(tst_ResultText)
#include "tst_resulttext.moc"
