#include "resulttextreference.h"

#include "profile.h"

#include <QRegExp>

namespace {

using TextSetting = QString (Profile::*)(const QString &);

struct Mark
{
    kr::ResultFlag flag;
    TextSetting setting;
    const char *key;

    QString text() const
    {
        return (Profile::instance()
                .*setting)(Profile::libraryDefault(QLatin1String(key)).toString());
    }
};
#define MARK(flag, name) \
    { \
        flag, &Profile::name, #name \
    }

const Mark leadingMarks[] = {
    MARK(kr::ManualInputFlag, manual_input_flag),
    MARK(kr::DilutionResultFlag, dilution_result_flag),
    MARK(kr::LowerReportLimitFlag, lower_report_limit_flag),
    MARK(kr::UpperReportLimitFlag, upper_report_limit_flag),
};

const Mark trailingMarks[] = {
    MARK(kr::LowerMarkLimitFlag, lower_mark_limit_flag),
    MARK(kr::UpperMarkLimitFlag, upper_mark_limit_flag),
};
#undef MARK

struct MarkTexts
{
    QStringList texts;
    QString alternation;
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

template<size_t N>
int scanMarks(const QString &run, const MarkTexts &texts, const Mark (&marks)[N])
{
    if (texts.alternation.isEmpty() || run.isEmpty())
        return 0;
    const QRegExp alternation(texts.alternation, Qt::CaseSensitive, QRegExp::RegExp);
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

} // namespace

AnalysisResult parseWithPattern(const QString &text)
{
    const MarkTexts leading = markTexts(leadingMarks);
    const MarkTexts trailing = markTexts(trailingMarks);
    const QString notClotted = Profile::instance().result_not_clotted(
        Profile::libraryDefault(QStringLiteral("result_not_clotted")).toString());

    QString word = QStringLiteral("[+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?");
    if (!notClotted.isEmpty())
        word += QLatin1Char('|') + QRegExp::escape(notClotted);
    const QRegExp pattern(QStringLiteral("^\\s*((?:%1)*)\\s*(%2)\\s*((?:%3)*)\\s*$")
                              .arg(leading.alternation, word, trailing.alternation),
                          Qt::CaseSensitive, QRegExp::RegExp);
    AnalysisResult result;
    if (pattern.indexIn(text, 0) == -1)
        return result;

    const int flags = scanMarks(pattern.cap(1), leading, leadingMarks)
        | scanMarks(pattern.cap(3), trailing, trailingMarks);
    result.setFlags(flags);
    const QString number = pattern.cap(2);
    if (number == notClotted) {
        result.setValue(AnalysisResult::NotClotted, AnalysisResult::notClottedValue);
        return result;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        result.setValue(AnalysisResult::errorCode(flags), value);
    return result;
}
