#ifndef KRTYPES_H
#define KRTYPES_H

#include <QtCore/QFlags>

/**
 * @file krtypes.h
 * The enumerations that results and sample numbers share; no more than
 * Qt Core is needed to use them.
 */

/// @ingroup results
namespace kr {

/** Flag bits of a test result; bits without a meaning here are carried unchanged. */
enum ResultFlag {
    DilutionResultFlag = 0x0002,
    LowerReportLimitFlag = 0x0004,
    UpperReportLimitFlag = 0x0008,
    LowerMarkLimitFlag = 0x0010,
    UpperMarkLimitFlag = 0x0020,
    ManualTestFlag = 0x1000,
    ManualInputFlag = 0x8000
};
Q_DECLARE_FLAGS(ResultFlags, ResultFlag)

enum SampleType { RoutineSample = 0, StatimSample = 1, QcSample = 2 };

} // namespace kr

Q_DECLARE_OPERATORS_FOR_FLAGS(kr::ResultFlags)

#endif // KRTYPES_H
