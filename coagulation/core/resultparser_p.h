#ifndef RESULTPARSER_P_H
#define RESULTPARSER_P_H

//
//  This header is internal to the library and is not installed.
//

#include "displaysettings_p.h"

#include <QtCore/QStringView>

// Result text split into its three parts: the marks before the number, the
// number (or the not-clotted word) and the arrows after it.
//
// The split is the one the pattern
//     ^\s*((?:F)*)\s*(W)\s*((?:V)*)\s*$
// gives under leftmost-longest matching, F being the alternation of the
// configured marks, W the number or the not-clotted word and V the arrows:
// each part in turn starts as early and runs as long as any complete match
// allows. It is found by one scan from the end of the text (which part can
// still complete a match from each position) and one from the start (where
// each part begins and ends), so it takes time linear in the text and in
// the length of the configured texts, whatever they contain.
struct ResultTextParts
{
    bool matched = false;
    int flags = 0; // the marks and arrows read, as kr::ResultFlag bits
    QStringView number; // the number or the not-clotted word, within the text
};

ResultTextParts splitResultText(const QString &text, const DisplaySettings &settings);

#endif // RESULTPARSER_P_H
