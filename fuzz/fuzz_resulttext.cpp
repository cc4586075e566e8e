// Arbitrary text through the result parser against the pattern it replaced
// (tests/resulttextreference): the same code, number, flags and error text on
// every input, so that a difference is a crash. The first byte picks one of
// several mark configurations, overlapping each other, the numbers and the
// white space. Beyond that, a number that parses must print and parse again
// to the same number.
#include "analysisresult.h"
#include "installation.h"
#include "profile.h"
#include "resulttextreference.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const keys[] = {"manual_input_flag",       "dilution_result_flag",
                            "lower_report_limit_flag", "upper_report_limit_flag",
                            "lower_mark_limit_flag",   "upper_mark_limit_flag",
                            "result_not_clotted"};

// One text per key above; a null entry keeps the built-in default.
const char *const configurations[][7] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"M", "MM", "<", "<<", "↓", "↓↑", "N(C)+"},
    {"+", "1", "12", ".", "5", "e5", "1x"},
    {" ", " M", "M", "M", " ", "↑ ", " 不凝"},
    {"*", "(.)", "[", "\\", "$", "^|", "?"},
    {"", "", "", "", "", "", ""},
    {nullptr, "1３", nullptr, " ", "٣1", "1", " "},
};
constexpr int configurationCount = int(sizeof configurations / sizeof configurations[0]);

void configure(int index)
{
    static int current = -1;
    if (index == current)
        return;
    current = index;
    for (int key = 0; key < 7; ++key) {
        const char *text = configurations[index][key];
        Profile::instance().setValue(QLatin1String(keys[key]),
                                     text ? QVariant(QString::fromUtf8(text)) : QVariant(), false);
    }
}

bool same(const AnalysisResult &a, const AnalysisResult &b)
{
    return a.error() == b.error() && a.flags() == b.flags() && a.errorText() == b.errorText()
        && (a.value() == b.value() || (std::isnan(a.value()) && std::isnan(b.value())));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir installation;
    QString error;
    if (!installation.isValid() || !Installation::layOut(installation.path(), &error)) {
        fprintf(stderr, "cannot lay out an installation: %s\n", qPrintable(error));
        abort();
    }
    QDir::setCurrent(installation.path());
    Profile::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    configure(data[0] % configurationCount);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const AnalysisResult result(text);
    const AnalysisResult expected = parseWithPattern(text);
    if (!same(result, expected)) {
        fprintf(stderr,
                "\"%s\" (configuration %d): code %d, %.17g, flags 0x%x; the pattern gives "
                "%d, %.17g, 0x%x\n",
                qPrintable(text), data[0] % configurationCount, int(result.error()), result.value(),
                result.flags(), int(expected.error()), expected.value(), expected.flags());
        abort();
    }

    result.foregroundRole();
    const QString printed = result.toString(AnalysisResult::FullText, 'g', 17);
    if (result.isValid() && std::isfinite(result.value())) {
        const AnalysisResult again(printed);
        // Marks made of number characters can read a printed number differently.
        if (data[0] % configurationCount != 2
            && (!again.isValid() || again.value() != result.value())) {
            fprintf(stderr, "\"%s\" printed as \"%s\" reads back as code %d, %g\n",
                    qPrintable(text), qPrintable(printed), int(again.error()), again.value());
            abort();
        }
    }
    return 0;
}
