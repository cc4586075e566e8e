#include "analysisresult.h"
#include "analysisresult_p.h"

#include "profile.h"

#include <QtCore/QRegExp>
#include <QtGui/QBrush>

// Display text, colour and parsing. Every call asks the settings store, so a
// changed mark or colour takes effect with the next call.

namespace {

using TextSetting = QString (Profile::*)(const QString &);
using ColorSetting = QColor (Profile::*)(const QColor &);

// A configurable mark and the flag it stands for. The default texts are
// translated in the context "Profile"; in Qt 5 tr and trUtf8 both read the
// source as UTF-8, so the arrows and the not-clotted word need no special case.
struct Mark
{
    kr::ResultFlag flag;
    TextSetting setting;
    const char *defaultText;

    QString text() const { return (Profile::instance().*setting)(Profile::tr(defaultText)); }
};

// Marks before the number, in the order they are printed and recognised.
const Mark leadingMarks[] = {
    {kr::ManualInputFlag, &Profile::manual_input_flag, QT_TRANSLATE_NOOP("Profile", "M")},
    {kr::DilutionResultFlag, &Profile::dilution_result_flag, QT_TRANSLATE_NOOP("Profile", "!")},
    {kr::LowerReportLimitFlag, &Profile::lower_report_limit_flag,
     QT_TRANSLATE_NOOP("Profile", "<")},
    {kr::UpperReportLimitFlag, &Profile::upper_report_limit_flag,
     QT_TRANSLATE_NOOP("Profile", ">")},
};

// Arrow marks after the number.
const Mark trailingMarks[] = {
    {kr::LowerMarkLimitFlag, &Profile::lower_mark_limit_flag, QT_TRANSLATE_NOOP("Profile", "↓")},
    {kr::UpperMarkLimitFlag, &Profile::upper_mark_limit_flag, QT_TRANSLATE_NOOP("Profile", "↑")},
};

QString notClottedWord()
{
    return Profile::instance().result_not_clotted(Profile::tr("不凝"));
}

QString noResultPlaceholder()
{
    return Profile::instance().result_can_not_be_calculated(Profile::tr("---.-"));
}

struct MarkTexts
{
    QStringList texts; // in the order of the mark table, empty ones included
    QString alternation; // the non-empty texts, escaped and joined with '|'
};

template<size_t N>
MarkTexts markTexts(const Mark (&marks)[N])
{
    MarkTexts result;
    QStringList escaped;
    for (const Mark &mark : marks) {
        const QString text = mark.text();
        result.texts << text;
        if (!text.isEmpty())
            escaped << QRegExp::escape(text);
    }
    result.alternation = escaped.join(QLatin1Char('|'));
    return result;
}

// Reads a run of adjacent marks: each match of the alternation is compared
// with the mark texts in table order, and the first equal one sets its flag.
template<size_t N>
int scanMarks(const QString &run, const QRegExp &alternation, const MarkTexts &texts,
              const Mark (&marks)[N])
{
    if (texts.alternation.isEmpty() || run.isEmpty())
        return 0;
    int flags = 0;
    int position = 0;
    while ((position = alternation.indexIn(run, position)) != -1) {
        const int length = alternation.matchedLength();
        if (length <= 0)
            break;
        const int index = texts.texts.indexOf(alternation.cap(0));
        if (index >= 0)
            flags |= marks[index].flag;
        position += length;
    }
    return flags;
}

// The parser's patterns. Compiling them costs far more than the settings
// lookups that decide them, so each thread keeps the set it compiled last and
// reuses it for as long as the configured texts give the same pattern text.
// The texts are still read at every call, so a changed mark takes effect at
// once.
struct ParserPatterns
{
    QString source;
    QRegExp text; // marks, number or word, arrows
    QRegExp leading; // the marks alone
    QRegExp trailing; // the arrows alone
};

const ParserPatterns &parserPatterns(const MarkTexts &leading, const QString &word,
                                     const MarkTexts &trailing)
{
    thread_local ParserPatterns cached;
    const QString source = QStringLiteral("^\\s*((?:%1)*)\\s*(%2)\\s*((?:%3)*)\\s*$")
                               .arg(leading.alternation, word, trailing.alternation);
    if (source != cached.source) {
        cached.source = source;
        cached.text = QRegExp(source, Qt::CaseSensitive, QRegExp::RegExp);
        cached.leading = QRegExp(leading.alternation, Qt::CaseSensitive, QRegExp::RegExp);
        cached.trailing = QRegExp(trailing.alternation, Qt::CaseSensitive, QRegExp::RegExp);
    }
    return cached;
}

const QColor markColor(255, 170, 0);

struct ColorRule
{
    kr::ResultFlag flag;
    ColorSetting setting;
    QColor defaultColor;
};

} // namespace

QString AnalysisResult::prefix(int mask) const
{
    const int flags = d->flags & mask;
    QString text;
    for (const Mark &mark : leadingMarks) {
        // Never both report marks: the lower one, earlier in the table, wins.
        const bool shadowed =
            mark.flag == kr::UpperReportLimitFlag && (flags & kr::LowerReportLimitFlag);
        if ((flags & mark.flag) && !shadowed)
            text += mark.text();
    }
    return text;
}

QString AnalysisResult::suffix() const
{
    // Never both arrows: the lower one wins.
    for (const Mark &mark : trailingMarks) {
        if (d->flags & mark.flag)
            return mark.text();
    }
    return QString();
}

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }

    if (d->error < ValidNumber) {
        if (d->error == NotClotted || isNotClottedValue(d->value))
            return notClottedWord();
        if (d->error == NullResult)
            return QString();
        return noResultPlaceholder();
    }

    const bool full = format == FullText;
    QString text = prefix(full ? -1 : int(kr::LowerReportLimitFlag | kr::UpperReportLimitFlag));
    if (!text.isEmpty())
        text += QLatin1Char(' ');
    text += QString::number(d->value, numberFormat, precision);
    if (full) {
        const QString arrow = suffix();
        if (!arrow.isEmpty())
            text += QLatin1Char(' ') + arrow;
    }
    return text;
}

QVariant AnalysisResult::foregroundRole() const
{
    // Unlike the marks, the upper limits win here.
    static const ColorRule rules[] = {
        {kr::UpperReportLimitFlag, &Profile::color_of_upper_report, QColor(Qt::red)},
        {kr::LowerReportLimitFlag, &Profile::color_of_lower_report, QColor(Qt::red)},
        {kr::UpperMarkLimitFlag, &Profile::color_of_upper_mark, markColor},
        {kr::LowerMarkLimitFlag, &Profile::color_of_lower_mark, markColor},
    };
    Profile &profile = Profile::instance();
    if (d->error < ValidNumber)
        return QBrush(profile.color_of_null_result(QColor(Qt::red)), Qt::SolidPattern);
    for (const ColorRule &rule : rules) {
        if (d->flags & rule.flag)
            return QBrush((profile.*rule.setting)(rule.defaultColor), Qt::SolidPattern);
    }
    return QVariant();
}

QVariant AnalysisResult::toVariant() const
{
    return d->error >= ValidNumber ? QVariant(d->value) : QVariant();
}

AnalysisResult::AnalysisResult(const QString &text)
    : AnalysisResult()
{
    const MarkTexts leading = markTexts(leadingMarks);
    const MarkTexts trailing = markTexts(trailingMarks);
    const QString notClotted = notClottedWord();

    QString word = QStringLiteral("[+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?");
    if (!notClotted.isEmpty())
        word += QLatin1Char('|') + QRegExp::escape(notClotted);
    const ParserPatterns &patterns = parserPatterns(leading, word, trailing);
    const QRegExp &pattern = patterns.text;
    if (pattern.indexIn(text, 0) == -1)
        return;

    const int flags = scanMarks(pattern.cap(1), patterns.leading, leading, leadingMarks)
        | scanMarks(pattern.cap(3), patterns.trailing, trailing, trailingMarks);
    setFlags(flags);

    const QString number = pattern.cap(2);
    if (number == notClotted) {
        setValue(NotClotted, notClottedValue);
        return;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        setValue(errorCode(flags), value);
}

AnalysisResult AnalysisResult::fromString(const QString &text)
{
    return AnalysisResult(text);
}
