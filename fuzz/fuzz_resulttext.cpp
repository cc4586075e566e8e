// Arbitrary text through the parser with the settings store attached and
// multi-character, overlapping marks configured: nothing may crash, and a
// number that parses must print and parse again to the same number. (The code
// may change: both report marks read as "above" but print as "below".)
#include "analysisresult.h"
#include "profile.h"
#include "schemalayout.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir installation;
    QString error;
    if (!installation.isValid() || !SchemaLayout::createDatabases(installation.path(), &error)) {
        fprintf(stderr, "cannot lay out an installation: %s\n", qPrintable(error));
        abort();
    }
    QDir::setCurrent(installation.path());

    // Marks that share characters and prefixes with each other and with the
    // not-clotted word, plus one with regular-expression syntax in it.
    Profile &profile = Profile::instance();
    profile.set_manual_input_flag(QStringLiteral("M"), false);
    profile.set_dilution_result_flag(QStringLiteral("MM"), false);
    profile.set_lower_report_limit_flag(QStringLiteral("<"), false);
    profile.set_upper_report_limit_flag(QStringLiteral("<<"), false);
    profile.set_lower_mark_limit_flag(QStringLiteral("↓"), false);
    profile.set_upper_mark_limit_flag(QStringLiteral("↓↑"), false);
    profile.set_result_not_clotted(QStringLiteral("N(C)+"), false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const AnalysisResult result(text);
    const int code = result.error();
    if (code != AnalysisResult::NullResult && code < AnalysisResult::NotClotted)
        abort();

    result.foregroundRole();
    const QString printed = result.toString(AnalysisResult::FullText, 'g', 17);
    if (result.isValid() && std::isfinite(result.value())) {
        const AnalysisResult again(printed);
        if (!again.isValid() || again.value() != result.value()) {
            fprintf(stderr, "\"%s\" printed as \"%s\" reads back as code %d, %g\n",
                    qPrintable(text), qPrintable(printed), int(again.error()), again.value());
            abort();
        }
    }
    return 0;
}
