#include "resultparser_p.h"

#include <QtCore/QStringView>
#include <QtCore/QVarLengthArray>

#include <algorithm>

namespace {

using Positions = QVarLengthArray<int, 64>;
constexpr int none = -1;

// The number [+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)? as a small automaton.
enum NumberState {
    Start, // nothing read
    Sign, // a sign
    Integer, // digits (accepting)
    Point, // digits and a point (accepting)
    LonePoint, // a point without digits before it
    Fraction, // digits after a lone point (accepting)
    Exponent, // an e or E
    ExponentSign, // e and a sign
    ExponentDigits, // (accepting)
    NumberStateCount
};

bool accepting(int state)
{
    return state == Integer || state == Point || state == Fraction || state == ExponentDigits;
}

int nextState(int state, QChar c)
{
    const bool digit = c.isDigit(); // any decimal digit, as \d means
    const bool sign = c == QLatin1Char('+') || c == QLatin1Char('-');
    const bool point = c == QLatin1Char('.');
    const bool e = c == QLatin1Char('e') || c == QLatin1Char('E');
    switch (state) {
    case Start:
        return sign ? Sign : digit ? Integer : point ? LonePoint : none;
    case Sign:
        return digit ? Integer : point ? LonePoint : none;
    case Integer:
        return digit ? Integer : point ? Point : e ? Exponent : none;
    case Point:
    case Fraction:
        return digit ? state : e ? Exponent : none;
    case LonePoint:
        return digit ? Fraction : none;
    case Exponent:
        return sign ? ExponentSign : digit ? ExponentDigits : none;
    case ExponentSign:
    case ExponentDigits:
        return digit ? ExponentDigits : none;
    }
    return none;
}

class Splitter
{
public:
    Splitter(const QString &text, const DisplaySettings &settings)
        : m_text(text)
        , m_settings(settings)
        , m_size(text.size())
    { }

    ResultTextParts split();

private:
    bool startsWith(int position, const QString &part) const
    {
        return !part.isEmpty() && part.size() <= m_size - position
            && QStringView(m_text).mid(position, part.size()) == part;
    }
    bool isSpace(int position) const { return position < m_size && m_text.at(position).isSpace(); }
    // The longest number or not-clotted word from `position` after which the
    // arrows can complete a match, or `none`.
    int longestWord(int position) const;
    // Where in the white space from `position` the longest part starts that
    // `found` gives an end for (the first such place on a tie), and its end.
    template<typename Found>
    std::pair<int, int> longestFrom(int position, Found found) const;
    // The flags of a run of marks, read as a search for the alternation
    // finds them: at the leftmost position where any mark matches, the
    // longest one, then on after it.
    int readMarks(QStringView run, int first, int last) const;

    const QString &m_text;
    const DisplaySettings &m_settings;
    const int m_size;
    Positions m_spaceEnd; // where the white space from each position ends
    Positions m_arrowsEnd; // longest arrow run from each position that only white space follows
    Positions m_arrowsFollow; // whether white space and then such a run start here
    Positions m_numberEnd[NumberStateCount]; // per state: the longest number end fit to follow
    Positions m_wordFollows; // whether white space and then a word that the arrows complete
    Positions m_marksEnd; // longest run of marks from each position that a word completes
};

int Splitter::longestWord(int position) const
{
    int end = m_numberEnd[Start][position];
    if (startsWith(position, m_settings.notClotted)) {
        const int wordEnd = position + m_settings.notClotted.size();
        if (m_arrowsFollow[wordEnd])
            end = std::max(end, wordEnd);
    }
    return end;
}

template<typename Found>
std::pair<int, int> Splitter::longestFrom(int position, Found found) const
{
    std::pair<int, int> longest = {none, none};
    for (int p = position; p <= m_spaceEnd[position]; ++p) {
        const int end = found(p);
        if (end != none && (longest.first == none || end - p > longest.second - longest.first))
            longest = {p, end};
    }
    return longest;
}

int Splitter::readMarks(QStringView run, int first, int last) const
{
    int flags = 0;
    for (int position = 0; position < run.size();) {
        int length = 0;
        for (; position < run.size(); ++position) {
            for (int mark = first; mark < last; ++mark) {
                const QString &text = m_settings.marks[mark];
                if (!text.isEmpty() && text.size() > length && run.mid(position).startsWith(text))
                    length = int(text.size());
            }
            if (length > 0)
                break;
        }
        if (length == 0)
            break;
        // The first mark with that text sets its flag, in table order.
        const QStringView matched = run.mid(position, length);
        for (int mark = first; mark < last; ++mark) {
            if (m_settings.marks[mark] == matched) {
                flags |= DisplaySettings::markFlags[mark];
                break;
            }
        }
        position += length;
    }
    return flags;
}

ResultTextParts Splitter::split()
{
    const int n = m_size;
    for (Positions *table :
         {&m_spaceEnd, &m_arrowsEnd, &m_arrowsFollow, &m_wordFollows, &m_marksEnd})
        table->resize(n + 1);
    for (Positions &table : m_numberEnd)
        table.resize(n + 1);

    // From the end: which part can still complete a match from where.
    const int firstArrow = DisplaySettings::firstArrow;
    const int markCount = DisplaySettings::MarkCount;
    for (int i = n; i >= 0; --i) {
        m_spaceEnd[i] = isSpace(i) ? m_spaceEnd[i + 1] : i;

        int arrows = m_spaceEnd[i] == n ? i : none;
        for (int mark = firstArrow; mark < markCount; ++mark) {
            const QString &text = m_settings.marks[mark];
            if (startsWith(i, text))
                arrows = std::max(arrows, m_arrowsEnd[i + int(text.size())]);
        }
        m_arrowsEnd[i] = arrows;
        m_arrowsFollow[i] = arrows != none || (isSpace(i) && m_arrowsFollow[i + 1]);

        for (int state = 0; state < NumberStateCount; ++state) {
            int end = accepting(state) && m_arrowsFollow[i] ? i : none;
            const int next = i < n ? nextState(state, m_text.at(i)) : none;
            if (next != none)
                end = std::max(end, m_numberEnd[next][i + 1]);
            m_numberEnd[state][i] = end;
        }
        m_wordFollows[i] = longestWord(i) != none || (isSpace(i) && m_wordFollows[i + 1]);

        int marks = m_wordFollows[i] ? i : none;
        for (int mark = 0; mark < firstArrow; ++mark) {
            const QString &text = m_settings.marks[mark];
            if (startsWith(i, text))
                marks = std::max(marks, m_marksEnd[i + int(text.size())]);
        }
        m_marksEnd[i] = marks;
    }

    // From the start: each part as long as a match allows, in turn.
    const auto [marksStart, marksEnd] = longestFrom(0, [this](int p) { return m_marksEnd[p]; });
    if (marksStart == none)
        return {};
    const auto [wordStart, wordEnd] =
        longestFrom(marksEnd, [this](int p) { return longestWord(p); });
    const auto [arrowsStart, arrowsEnd] =
        longestFrom(wordEnd, [this](int p) { return m_arrowsEnd[p]; });

    const QStringView text(m_text);
    ResultTextParts parts;
    parts.matched = true;
    parts.flags = readMarks(text.mid(marksStart, marksEnd - marksStart), 0, firstArrow)
        | readMarks(text.mid(arrowsStart, arrowsEnd - arrowsStart), firstArrow, markCount);
    parts.number = m_text.mid(wordStart, wordEnd - wordStart);
    return parts;
}

} // namespace

ResultTextParts splitResultText(const QString &text, const DisplaySettings &settings)
{
    return Splitter(text, settings).split();
}
