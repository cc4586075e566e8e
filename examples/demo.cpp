// Walks one result through the library and prints what it holds.
#include "analysisresult.h"

#include <QtCore/QTextStream>

int main()
{
    QTextStream out(stdout);
    out.setCodec("UTF-8");

    ClotCurve curve;
    curve.append(0.0, 0.1, {1200, 1190, 1185, 1180});
    curve.append(10.0, 0.5, {900, 700, 650});
    out << "clot curve: " << curve.segments().size() << " segments, " << curve.size()
        << " points\n";
    for (int i = 0; i < curve.size(); ++i)
        out << "  point " << i << ": x " << curve.x(i) << ", y " << curve.y(i) << '\n';

    AnalysisResult result(12.5);
    result.setFlag(kr::ManualInputFlag | kr::LowerReportLimitFlag);
    result.setCurve(curve);
    const AnalysisResult notClotted(999.9);
    const AnalysisResult missing(AnalysisResult::NoStandardCurve);

    out << "result 12.5: code " << result.error() << ", flags 0x"
        << QString::number(result.flags(), 16) << ", below 13: " << (result < 13.0) << '\n';
    out << "result 999.9: code " << notClotted.error() << '\n';
    out << "no standard curve: code " << missing.error() << ", " << missing.errorText() << '\n';
    return result.isValid() && notClotted.error() == AnalysisResult::NotClotted ? 0 : 1;
}
