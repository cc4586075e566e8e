#ifndef ANALYSISRESULT_P_H
#define ANALYSISRESULT_P_H

//
//  This header is internal to the library and is not installed.
//

#include "analysisresult.h"

#include <QtCore/QAtomicInt>

struct AnalysisResult::Data
{
    QAtomicInt ref;
    qint32 id;
    double value;
    double od;
    qint32 flags;
    qint32 error;
    QString errorText;
    ClotCurve curve;
    qint32 ch;
    qint32 version;
    qint32 recordId;
    qint32 qcRecordId;
};

#endif // ANALYSISRESULT_P_H
