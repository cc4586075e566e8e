#ifndef RESULTTEXTREFERENCE_H
#define RESULTTEXTREFERENCE_H

#include "analysisresult.h"

// Result text read the way the library first did it, with QRegExp: the
// pattern ^\s*((?:F)*)\s*(W)\s*((?:V)*)\s*$ assembled from the configured
// marks and words, then the runs of marks searched with their alternations.
// The library's own scanner must agree with it on every input.
AnalysisResult parseWithPattern(const QString &text);

#endif // RESULTTEXTREFERENCE_H
