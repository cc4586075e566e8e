// A small results board built the way an application team starts out: against
// the installed package only, compiled with QT_NO_KEYWORDS and
// QT_NO_CAST_FROM_ASCII. It follows the README's "first hour" step by step and
// exits non-zero at the first step that does not work.
//
//     resultsboard DIR      (an installation, laid out here if missing)
#include <analysisresult.h>
#include <installation.h>
#include <krglobal.h>
#include <profile.h>

#include <QtCore/QDate>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtGui/QBrush>
#include <QtWidgets/QApplication>

#ifndef COAGULATION_TRANSLATIONS_DIR
#error "COAGULATION_TRANSLATIONS_DIR: the package's translations directory"
#endif

static QTextStream out(stdout);

static bool check(bool ok, const QString &what)
{
    out << (ok ? "ok      " : "FAILED  ") << what << '\n';
    out.flush();
    return ok;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The same bytes on every system, as Qt 6 writes them: Windows' code page
    // has no arrow.
    out.setCodec("UTF-8");
#endif
    const QString site = QDir(app.arguments().value(1, QStringLiteral("site"))).absolutePath();

    // 1. An installation: settings.ini and the four databases, then English.
    //! [site]
    QString error;
    if (!check(Installation::layOut(site, &error), QStringLiteral("installation ") + error))
        return 1;
    QDir::setCurrent(site);
    QFile settings(QStringLiteral("settings.ini"));
    if (!settings.open(QIODevice::ReadWrite | QIODevice::Text))
        return 1;
    const QString ini = QString::fromUtf8(settings.readAll());
    settings.resize(0);
    settings.write(QString(ini).replace(QStringLiteral("language=zh_CN"),
                                        QStringLiteral("language=en")).toUtf8());
    settings.close();
    //! [site]

    // 2. Translations from the package's directory, then the store.
    //! [store]
    installTranslators(QStringLiteral(COAGULATION_TRANSLATIONS_DIR));
    Profile &profile = Profile::instance();
    if (!check(profile.dataDatabase().isOpen(), QStringLiteral("settings store attached")))
        return 1;
    //! [store]

    // 3. Results as cells: text and colour.
    //! [cells]
    AnalysisResult result(12.5);
    result.setFlags(kr::ManualInputFlag | kr::LowerReportLimitFlag | kr::UpperMarkLimitFlag);
    result.flagsToError();
    const QString text = result.toString(AnalysisResult::FullText, 'f', 1);
    const QColor colour = result.foregroundRole().value<QBrush>().color();
    if (!check(text == QStringLiteral("M< 12.5 ↑") && colour == QColor(Qt::red),
               QStringLiteral("cell \"%1\" in %2").arg(text, colour.name())))
        return 1;
    if (!check(AnalysisResult(AnalysisResult::NotClotted).toString() == QStringLiteral("No clot"),
               QStringLiteral("English: ") + AnalysisResult(AnalysisResult::NotClotted).toString()))
        return 1;
    //! [cells]

    // 4. Typed-in results: one read back, one refused.
    //! [typed]
    bool ok = false;
    const AnalysisResult typed = AnalysisResult::fromString(text, &ok);
    if (!check(ok && typed == result && typed.flags() == result.flags(),
               QStringLiteral("typed-in \"%1\" read back").arg(text)))
        return 1;
    AnalysisResult::fromString(QStringLiteral("12,5"), &ok);
    if (!check(!ok, QStringLiteral("typed-in \"12,5\" refused")))
        return 1;
    //! [typed]

    // 5. Sample numbers of the day. A number is only handed out when the
    // data database could be read: a locked file must not give a duplicate.
    //! [samples]
    const int sampleNo = nextSampleNo(QDate::currentDate(), &ok);
    if (!check(ok, QStringLiteral("next sample %1%2")
                                   .arg(samplePrefix(kr::StatimSample))
                                   .arg(sampleNo)))
        return 1;
    //! [samples]

    // 6. A clot curve converted, saved as the next version and read back.
    //! [curve]
    ClotCurve raw;
    QVector<double> values;
    for (int i = 0; i < 100; ++i)
        values << (i < 50 ? 1000.0 : 400.0);
    raw.append(0.0, 0.1, values);
    const ClotCurve od = raw.toType(ClotCurve::OD);
    const int version = ClotCurve::latestVersion(sampleNo, QStringLiteral("PT")) + 1;
    if (!check(od.store(sampleNo, QStringLiteral("PT"), version),
               QStringLiteral("curve saved as version %1").arg(version)))
        return 1;
    const ClotCurve loaded = ClotCurve::load(sampleNo, QStringLiteral("PT"), version, &ok);
    if (!check(ok && loaded == od, QStringLiteral("curve read back")))
        return 1;
    //! [curve]
    return 0;
}
