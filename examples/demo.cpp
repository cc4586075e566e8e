// The road of one result through the library, on a local installation that
// the demo lays out itself when there is none:
//
//   coagulation-demo [installation directory]   (default: demo-installation)
//
// Each step prints what it did and whether it worked; the exit status is 0
// only when every step worked. The stored curve is also drawn, as the curve
// viewer plots it, into curve.png in the installation directory.
#include "analysisresult.h"
#include "curveplot.h"
#include "installation.h"
#include "krglobal.h"
#include "profile.h"
#include "programstart.h"
#include "programtranslator.h"
#include "serial.h"
#include "serialportinfo.h"
#include "unattendedmessageboxes.h"

#include <QtCore/QDate>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtCore/QTextStream>
#include <QtGui/QBrush>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include <cmath>
#include <memory>

namespace {

QTextStream out(stdout);
int failures = 0;

void step(bool ok, const QString &what)
{
    out << (ok ? "  [ok]     " : "  [FAILED] ") << what << '\n';
    out.flush();
    if (!ok)
        ++failures;
}

void section(const QString &title)
{
    out << '\n' << title << '\n';
}

// settings.ini and the four databases in `directory`, unless it has them, and
// `directory` made the current one.
bool enterInstallation(const QString &directory)
{
    QString error;
    if (!Installation::layOut(directory, &error)) {
        out << "  " << error << '\n';
        return false;
    }
    return QDir::setCurrent(directory);
}

// A clot forming: the raw signal falls from its baseline once fibrin forms.
// The second segment continues at a coarser step.
ClotCurve simulatedRawCurve()
{
    QVector<double> fine, coarse;
    for (int i = 0; i < 200; ++i) {
        const double t = i * 0.1;
        fine << 1200.0 - 700.0 / (1.0 + std::exp(-(t - 12.0) * 1.5)) + 2.0 * std::sin(i);
    }
    for (int i = 0; i < 40; ++i)
        coarse << 500.0 - i * 0.5;
    ClotCurve curve;
    curve.append(0.0, 0.1, fine);
    curve.append(20.0, 0.5, coarse);
    return curve;
}

// The plot of the curve viewer, drawn without a window on any screen.
bool drawCurve(const QByteArray &bytes, const QString &title, const QString &file)
{
    CurvePlot plot;
    plot.resize(900, 540);
    plot.setTitle(title);
    if (!plot.setStoredCurve(bytes))
        return false;
    // grab() lays out the hidden widgets; the chart then lays itself out from
    // the event loop.
    plot.grab();
    QCoreApplication::processEvents();
    return plot.grab().save(file);
}

// The port an instrument is most likely on: a USB adapter before a built-in
// port, as the analyser's cable comes with one.
SerialPortInfo likelyInstrumentPort(const QList<SerialPortInfo> &ports)
{
    for (const SerialPortInfo &info : ports) {
        if (info.hasVendorIdentifier())
            return info;
    }
    return ports.value(0);
}

QByteArray storedCurve(int patientId)
{
    QSqlQuery query(Profile::instance().dataDatabase());
    query.prepare(
        QStringLiteral("select curve from curve where patientId = ? order by rowid desc"));
    query.addBindValue(patientId);
    return query.exec() && query.next() ? query.value(0).toByteArray() : QByteArray();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("coagulation-demo"));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8");
#endif
    // Where no window is shown nobody sees, let alone answers, a box that the
    // library opens (on a damaged profile database, say): its text is printed
    // instead.
    std::unique_ptr<UnattendedMessageBoxes> unattended;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        unattended.reset(new UnattendedMessageBoxes([](const QMessageBox &box) {
            out << "  [box]    "
                << box.text().replace(QLatin1Char('\n'), QStringLiteral("\n           "))
                << "\n           (answered as Escape would)\n";
            out.flush();
        }));
    }

    const QString directory =
        QDir(app.arguments().value(1, QStringLiteral("demo-installation"))).absolutePath();
    section(QStringLiteral("Installation: %1").arg(directory));
    step(enterInstallation(directory), QStringLiteral("settings.ini and four databases in place"));
    installTranslators();
    // The plot's texts are translated with the viewer's.
    installProgramTranslator(QStringLiteral("curveviewer"));
    warnWithoutChineseFont();
    Profile &profile = Profile::instance();
    step(profile.dataDatabase().isOpen(),
         QStringLiteral("settings store attached, data database open"));

    section(QStringLiteral("Clot curve"));
    const ClotCurve raw = simulatedRawCurve();
    step(raw.size() == 240,
         QStringLiteral("raw curve: %1 segments, %2 points, first y %3")
             .arg(raw.segments().size())
             .arg(raw.size())
             .arg(raw.y(0)));
    const ClotCurve od = raw.toType(ClotCurve::OD);
    // segments() returns a copy: keep it while its values are read.
    const QVector<ClotCurve::Segment> odSegments = od.segments();
    double maxOd = 0.0;
    for (double value : odSegments.constFirst().values)
        maxOd = qMax(maxOd, value);
    step(od.type() == ClotCurve::OD && maxOd > 0.3,
         QStringLiteral("optical density: baseline points zeroed, maximum OD %1 at the clot")
             .arg(maxOd, 0, 'f', 3));

    // The raw curve is stored: the density follows from it, not the other way round.
    const int patientId = int(QDateTime::currentSecsSinceEpoch() % 100000);
    raw.save(patientId, QStringLiteral("PT"), 1);
    const QByteArray bytes = storedCurve(patientId);
    step(bytes == raw.toBuffer(),
         QStringLiteral("raw curve saved into table curve: %1 bytes, CRC-16 0x%2")
             .arg(bytes.size())
             .arg(crc16(bytes.constData(), bytes.size()), 4, 16, QLatin1Char('0')));
    const ClotCurve back = ClotCurve::fromBuffer(bytes);
    step(back.size() == raw.size() && back.y(150) == raw.y(150),
         QStringLiteral("read back from the stored bytes: %1 points").arg(back.size()));
    const QString picture = QDir::current().absoluteFilePath(QStringLiteral("curve.png"));
    // The viewer's title, in the viewer's translation.
    const QString title =
        QCoreApplication::translate("CurveViewerWindow", "样本 %1，项目 %2，版本 %3")
            .arg(patientId)
            .arg(QStringLiteral("PT"))
            .arg(1);
    step(drawCurve(bytes, title, picture),
         QStringLiteral("raw signal and optical density plotted: %1").arg(picture));

    section(QStringLiteral("Result"));
    AnalysisResult result(13.24);
    result.setFlag(kr::ManualInputFlag | kr::DilutionResultFlag | kr::UpperMarkLimitFlag);
    result.setOD(maxOd);
    result.setCurve(od);
    const QString text = result.toString(AnalysisResult::FullText, 'f', 1);
    step(!text.isEmpty(),
         QStringLiteral("cell text \"%1\", brief \"%2\"")
             .arg(text, result.toString(AnalysisResult::BriefText, 'f', 1)));
    const QColor color = result.foregroundRole().value<QBrush>().color();
    step(color.isValid(),
         QStringLiteral("cell colour %1 (above the upper mark limit)").arg(color.name()));
    const AnalysisResult parsed = AnalysisResult::fromString(text);
    step(parsed.flags() == result.flags() && std::abs(parsed.value() - 13.2) < 1e-9,
         QStringLiteral("parsed back: code %1, number %2, flags 0x%3")
             .arg(parsed.error())
             .arg(parsed.value())
             .arg(parsed.flags(), 4, 16, QLatin1Char('0')));
    const AnalysisResult failed(AnalysisResult::NoStandardCurve);
    step(failed.toString() == QStringLiteral("---.-"),
         QStringLiteral("a result without a number: \"%1\" (%2)")
             .arg(failed.toString(), failed.errorText()));

    section(QStringLiteral("Sample"));
    const QDate today = QDate::currentDate();
    bool numbered = false;
    const int sampleNo = nextSampleNo(today, &numbered);
    step(numbered, QStringLiteral("sample number %1 of the day").arg(sampleNo));
    QSqlQuery insert(profile.dataDatabase());
    insert.prepare(QStringLiteral("insert into patient (sampleNo, date, name) values(?, ?, ?)"));
    insert.addBindValue(QString::number(sampleNo));
    insert.addBindValue(today);
    insert.addBindValue(QStringLiteral("demo"));
    step(insert.exec(),
         QStringLiteral("sample %1 of %2 registered %3")
             .arg(sampleNo)
             .arg(today.toString(Qt::ISODate), insert.lastError().text()));
    const QString next = QString::number(nextSampleNo(today, &numbered));
    step(numbered && next.toInt() == sampleNo + 1,
         QStringLiteral("next sample number %1; as an emergency sample %2, as a QC sample %3")
             .arg(next, samplePrefix(kr::StatimSample) + next, samplePrefix(kr::QcSample) + next));

    section(QStringLiteral("Serial ports"));
    // Chosen by what they are, not by a number: the names alone say nothing
    // of which one the instrument's cable is on.
    const QList<SerialPortInfo> ports = Serial::portInfo();
    step(ports.size() == Serial::EnumDevices().size(),
         QStringLiteral("%1 serial port(s) on this machine").arg(ports.size()));
    for (const SerialPortInfo &info : ports) {
        out << "           " << info.displayName();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            out << QStringLiteral(", USB %1:%2")
                       .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                       .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        if (!info.stableName().isEmpty())
            out << ", " << info.stableName();
        out << '\n';
    }
    const SerialPortInfo instrument = likelyInstrumentPort(ports);
    if (!instrument.portName().isEmpty())
        out << "           the instrument would go on " << instrument.displayName() << '\n';

    section(QStringLiteral("Dilution"));
    const QStringList dilutions = dilutionList();
    bool ok = false;
    const double ratio = fraction(dilutions.value(5), &ok);
    step(ok && ratio == 0.1,
         QStringLiteral("%1 dilutions; \"%2\" is the ratio %3, volume %4")
             .arg(dilutions.size())
             .arg(dilutions.value(5))
             .arg(ratio)
             .arg(humanReadableVolume(1500)));

    out << '\n'
        << (failures ? QStringLiteral("%1 step(s) FAILED").arg(failures)
                     : QStringLiteral("every step worked"))
        << '\n';
    return failures ? 1 : 0;
}
