#include "resultparser_p.h"

#include <QtCore/QVarLengthArray>

#include <algorithm>

namespace {

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

enum CharClass { Digit, SignChar, PointChar, ExponentChar, OtherChar, CharClassCount };

CharClass classOf(QChar c)
{
    if (c.isDigit()) // any decimal digit, as \d means
        return Digit;
    switch (c.unicode()) {
    case '+':
    case '-':
        return SignChar;
    case '.':
        return PointChar;
    case 'e':
    case 'E':
        return ExponentChar;
    default:
        return OtherChar;
    }
}

constexpr bool accepting[NumberStateCount] = {false, false, true,  true, false,
                                              true,  false, false, true};

constexpr int transitions[NumberStateCount][CharClassCount] = {
    // Digit, Sign, Point, E, other
    {Integer, Sign, LonePoint, none, none}, // Start
    {Integer, none, LonePoint, none, none}, // Sign
    {Integer, none, Point, Exponent, none}, // Integer
    {Point, none, none, Exponent, none}, // Point
    {Fraction, none, none, none, none}, // LonePoint
    {Fraction, none, none, Exponent, none}, // Fraction
    {ExponentDigits, ExponentSign, none, none, none}, // Exponent
    {ExponentDigits, none, none, none, none}, // ExponentSign
    {ExponentDigits, none, none, none, none}, // ExponentDigits
};

// What can still complete a match from one position of the text.
struct Cell
{
    int spaceEnd; // where the white space from here ends
    int arrowsEnd; // longest run of arrows from here that only white space follows
    bool arrowsFollow; // white space, then such a run
    int numberEnd[NumberStateCount]; // per state, the longest number end that arrows can follow
    int wordEnd; // longest number or not-clotted word from here that arrows can follow
    bool wordFollows; // white space, then such a number or word
    int marksEnd; // longest run of marks from here that such a word can follow
};

class Splitter
{
public:
    Splitter(const QString &text, const DisplaySettings &settings)
        : m_text(text.constData())
        , m_size(text.size())
        , m_settings(settings)
    { }

    ResultTextParts split() { return m_settings.plain ? splitPlain() : splitAnyway(); }

private:
    bool startsWith(int position, const QString &part) const
    {
        const int length = part.size();
        return length && length <= m_size - position && m_text[position] == part.at(0)
            && std::equal(part.constData() + 1, part.constData() + length, m_text + position + 1);
    }
    // The longest number or not-clotted word from `position` that arrows can
    // follow, or `none`.
    int longestWord(int position) const;
    // Where in the white space from `position` the first part starts that
    // `found` gives an end for (the first non-empty one, if asked and there
    // is one), and its end, the longest one from there.
    template<typename Found>
    std::pair<int, int> earliestFrom(int position, Found found, bool nonEmptyFirst) const;
    // The flags of a run of marks, read as a search for their alternation
    // reads them: at the leftmost position where any mark matches, the
    // longest one, then on after it.
    // *whole tells whether those marks cover the run from end to end.
    int readMarks(int from, int to, int firstMark, int lastMark, bool *whole) const;
    // Whether text[from, to) is made of the marks firstMark to lastMark.
    bool isMarkRun(int from, int to, int firstMark, int lastMark) const;
    ResultTextParts parts(int marksStart, int marksEnd, int wordStart, int wordEnd, int arrowsStart,
                          int arrowsEnd) const;
    // With plain settings every part is a run of its own characters.
    ResultTextParts splitPlain() const;
    // Any settings: which part can complete a match from each position, from
    // the end, then the longest parts from the start.
    ResultTextParts splitAnyway();
    int longestMarkAt(int position, int to, int firstMark, int lastMark) const;

    const QChar *m_text;
    const int m_size;
    const DisplaySettings &m_settings;
    QVarLengthArray<Cell, 32> m_cells;
};

int Splitter::longestWord(int position) const
{
    int end = m_cells[position].numberEnd[Start];
    if (startsWith(position, m_settings.notClotted)) {
        const int wordEnd = position + int(m_settings.notClotted.size());
        if (m_cells[wordEnd].arrowsFollow)
            end = std::max(end, wordEnd);
    }
    return end;
}

template<typename Found>
std::pair<int, int> Splitter::earliestFrom(int position, Found found, bool nonEmptyFirst) const
{
    const int last = m_cells[position].spaceEnd;
    if (nonEmptyFirst) {
        for (int p = position; p <= last; ++p) {
            const int end = found(p);
            if (end != none && end > p)
                return {p, end};
        }
    }
    for (int p = position; p <= last; ++p) {
        const int end = found(p);
        if (end != none)
            return {p, end};
    }
    return {none, none};
}

int Splitter::longestMarkAt(int position, int to, int firstMark, int lastMark) const
{
    int length = 0;
    for (int mark = firstMark; mark < lastMark; ++mark) {
        const QString &text = m_settings.marks[mark];
        if (text.size() > length && text.size() <= to - position && startsWith(position, text))
            length = int(text.size());
    }
    return length;
}

int Splitter::readMarks(int from, int to, int firstMark, int lastMark, bool *whole) const
{
    int flags = 0;
    *whole = true;
    for (int position = from; position < to;) {
        int length = 0;
        while (position < to && !(length = longestMarkAt(position, to, firstMark, lastMark))) {
            ++position;
            *whole = false;
        }
        if (!length)
            break;
        // The first mark with that text sets its flag, in table order.
        const QStringView matched(m_text + position, length);
        for (int mark = firstMark; mark < lastMark; ++mark) {
            if (m_settings.marks[mark] == matched) {
                flags |= DisplaySettings::markFlags[mark];
                break;
            }
        }
        position += length;
    }
    return flags;
}

bool Splitter::isMarkRun(int from, int to, int firstMark, int lastMark) const
{
    QVarLengthArray<bool, 32> reachable(to - from + 1);
    std::fill(reachable.begin(), reachable.end(), false);
    reachable[0] = true;
    for (int i = from; i < to; ++i) {
        if (!reachable[i - from])
            continue;
        for (int mark = firstMark; mark < lastMark; ++mark) {
            const QString &text = m_settings.marks[mark];
            if (text.size() <= to - i && startsWith(i, text))
                reachable[i - from + int(text.size())] = true;
        }
    }
    return reachable[to - from];
}

ResultTextParts Splitter::parts(int marksStart, int marksEnd, int wordStart, int wordEnd,
                                int arrowsStart, int arrowsEnd) const
{
    bool ignored = false;
    ResultTextParts parts;
    parts.matched = true;
    parts.flags = readMarks(marksStart, marksEnd, 0, DisplaySettings::firstArrow, &ignored)
        | readMarks(arrowsStart, arrowsEnd, DisplaySettings::firstArrow, DisplaySettings::MarkCount,
                    &ignored);
    parts.number = QStringView(m_text + wordStart, wordEnd - wordStart);
    return parts;
}

ResultTextParts Splitter::splitPlain() const
{
    const auto skipSpaces = [this](int i) {
        while (i < m_size && m_text[i].isSpace())
            ++i;
        return i;
    };
    const auto runOf = [this](int i, const QString &characters) {
        const QChar *const begin = characters.constBegin(), *const end = characters.constEnd();
        while (i < m_size && std::find(begin, end, m_text[i]) != end)
            ++i;
        return i;
    };
    // The longest marks read from the start of a run cover most runs; only a
    // run they do not cover needs the full test.
    const auto readRun = [this](int from, int to, int firstMark, int lastMark, int *flags) {
        bool whole = false;
        *flags = readMarks(from, to, firstMark, lastMark, &whole);
        return whole || isMarkRun(from, to, firstMark, lastMark);
    };

    ResultTextParts parts;
    const int marksStart = skipSpaces(0);
    const int marksEnd = runOf(marksStart, m_settings.leadingCharacters);
    int marks = 0;
    if (!readRun(marksStart, marksEnd, 0, DisplaySettings::firstArrow, &marks))
        return parts;

    const int wordStart = skipSpaces(marksEnd);
    int wordEnd = wordStart;
    if (startsWith(wordStart, m_settings.notClotted)) {
        wordEnd += int(m_settings.notClotted.size());
    } else {
        int state = Start;
        for (; wordEnd < m_size; ++wordEnd) {
            const CharClass charClass = classOf(m_text[wordEnd]);
            if (charClass == OtherChar)
                break;
            state = transitions[state][charClass];
            if (state == none)
                return parts;
        }
        if (!accepting[state])
            return parts;
    }

    const int arrowsStart = skipSpaces(wordEnd);
    const int arrowsEnd = runOf(arrowsStart, m_settings.arrowCharacters);
    int arrows = 0;
    if (!readRun(arrowsStart, arrowsEnd, DisplaySettings::firstArrow, DisplaySettings::MarkCount,
                 &arrows)
        || skipSpaces(arrowsEnd) != m_size)
        return parts;
    parts.matched = true;
    parts.flags = marks | arrows;
    parts.number = QStringView(m_text + wordStart, wordEnd - wordStart);
    return parts;
}

ResultTextParts Splitter::splitAnyway()
{
    const int n = m_size;
    m_cells.resize(n + 1);
    const int firstArrow = DisplaySettings::firstArrow;
    const int markCount = DisplaySettings::MarkCount;

    // From the end: which part can still complete a match from where.
    for (int i = n; i >= 0; --i) {
        Cell &cell = m_cells[i];
        const bool space = i < n && m_text[i].isSpace();
        const Cell *next = i < n ? &m_cells[i + 1] : nullptr;
        cell.spaceEnd = space ? next->spaceEnd : i;

        int arrows = cell.spaceEnd == n ? i : none;
        for (int mark = firstArrow; mark < markCount; ++mark) {
            const QString &text = m_settings.marks[mark];
            if (startsWith(i, text))
                arrows = std::max(arrows, m_cells[i + int(text.size())].arrowsEnd);
        }
        cell.arrowsEnd = arrows;
        cell.arrowsFollow = arrows != none || (space && next->arrowsFollow);

        const CharClass charClass = i < n ? classOf(m_text[i]) : OtherChar;
        for (int state = 0; state < NumberStateCount; ++state) {
            int end = accepting[state] && cell.arrowsFollow ? i : none;
            const int to = transitions[state][charClass];
            if (to != none)
                end = std::max(end, next->numberEnd[to]);
            cell.numberEnd[state] = end;
        }
        cell.wordEnd = longestWord(i);
        cell.wordFollows = cell.wordEnd != none || (space && next->wordFollows);

        int marks = cell.wordFollows ? i : none;
        for (int mark = 0; mark < firstArrow; ++mark) {
            const QString &text = m_settings.marks[mark];
            if (startsWith(i, text))
                marks = std::max(marks, m_cells[i + int(text.size())].marksEnd);
        }
        cell.marksEnd = marks;
    }

    // From the start, each part in turn: a run of marks or arrows that can
    // be there before an empty one, then the earliest start and the longest
    // part from there, as the pattern's leftmost-longest match chooses.
    const auto [marksStart, marksEnd] = earliestFrom(
        0, [this](int p) { return m_cells[p].marksEnd; }, true);
    if (marksStart == none)
        return {};
    const auto [wordStart, wordEnd] = earliestFrom(
        marksEnd, [this](int p) { return m_cells[p].wordEnd; }, false);
    const auto [arrowsStart, arrowsEnd] = earliestFrom(
        wordEnd, [this](int p) { return m_cells[p].arrowsEnd; }, true);

    return parts(marksStart, marksEnd, wordStart, wordEnd, arrowsStart, arrowsEnd);
}

} // namespace

ResultTextParts splitResultText(const QString &text, const DisplaySettings &settings)
{
    return Splitter(text, settings).split();
}
