#ifndef DISPLAYSETTINGS_P_H
#define DISPLAYSETTINGS_P_H

//
//  This header is internal to the library and is not installed.
//

#include "krtypes.h"

#include <QtCore/QString>
#include <QtCore/QVariant>

#include <optional>

// The texts, marks and colours that result cells are made of, as the
// settings store and the installed translations give them.
//
// A result view formats every visible cell on each repaint, so the settings
// are read once into a snapshot per thread, which stays in use until any
// setting or the language changes: a changed setting still shows at the very
// next call, from any thread.
struct DisplaySettings
{
    // In the order the marks are printed and recognised: four before the
    // number, two arrows after it.
    enum Mark {
        ManualInputMark,
        DilutionMark,
        LowerReportMark,
        UpperReportMark,
        LowerLimitMark,
        UpperLimitMark,
        MarkCount
    };
    static constexpr int firstArrow = LowerLimitMark;

    enum Colour {
        NullResultColour,
        UpperReportColour,
        LowerReportColour,
        UpperLimitColour,
        LowerLimitColour,
        ColourCount
    };

    static const kr::ResultFlag markFlags[MarkCount];

    // The settings in force (see below).
    class Current;

    QString marks[MarkCount];
    QString notClotted;
    QString noResult;
    QVariant brushes[ColourCount]; // each a solid QBrush

    // True when no mark or word holds white space or a character of a
    // number, and the marks before the number, the word and the arrows share
    // no character: text then splits at the borders of its character runs.
    bool plain = false;
    QString leadingCharacters, wordCharacters, arrowCharacters;
};

// The settings in force: this thread's snapshot, refreshed when out of date
// (or, while the thread ends, a reading of its own). Starts the settings
// store on first use.
class DisplaySettings::Current
{
public:
    Current();
    const DisplaySettings &operator*() const { return *m_settings; }
    const DisplaySettings *operator->() const { return m_settings; }

private:
    const DisplaySettings *m_settings;
    std::optional<DisplaySettings> m_own;
};

#endif // DISPLAYSETTINGS_P_H
