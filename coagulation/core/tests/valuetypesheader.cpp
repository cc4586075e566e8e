// The value types need Qt Core and Gui only: a program that shows results
// without widgets or SQL (a report renderer, a service) builds with just
// those. The build fails here if analysisresult.h pulls in more.
#include "analysisresult.h"

#if defined(QTWIDGETSGLOBAL_H) || defined(QTSQLGLOBAL_H)
#error "analysisresult.h needs more than Qt Core and Gui"
#endif

int valueTypesNeedCoreAndGuiOnly()
{
    return AnalysisResult(12.5).flags() | int(kr::DilutionResultFlag);
}
