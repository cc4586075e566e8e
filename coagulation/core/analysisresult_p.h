#ifndef ANALYSISRESULT_P_H
#define ANALYSISRESULT_P_H

//
//  This header is internal to the library and is not installed.
//

#include "analysisresult.h"

#include <QtCore/QSharedData>

// The reference count comes first, from QSharedData; a copy starts unshared.
struct AnalysisResult::Data : public QSharedData
{
    Data() = default;
    // The static empty block, born with the library's own reference so
    // that no handle ever frees or changes it.
    struct LibraryReference
    { };
    explicit Data(LibraryReference) { ref.storeRelaxed(1); }

    qint32 id = 0;
    double value = 0.0;
    double od = 0.0;
    qint32 flags = 0;
    qint32 error = AnalysisResult::NullResult;
    QString errorText;
    ClotCurve curve;
    qint32 ch = 0;
    qint32 version = 0;
    qint32 recordId = 0;
    qint32 qcRecordId = 0;
};

#endif // ANALYSISRESULT_P_H
