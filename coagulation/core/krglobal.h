#ifndef KRGLOBAL_H
#define KRGLOBAL_H

#include "core_global.h"

#include <QtCore/QFlags>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtWidgets/QMessageBox>

class QWidget;

namespace kr {

// Flag bits of a test result; bits without a meaning here are carried unchanged.
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

} // namespace kr

Q_DECLARE_OPERATORS_FOR_FLAGS(kr::ResultFlags)

// The value of the first ratio ("1/10", "1:4", "-1.5 / 3") found anywhere in
// text, or 0.0 when there is none; *ok tells which. A zero divisor yields the
// IEEE infinity or NaN, still with *ok true. Safe to call from any thread.
CORE_EXPORT double fraction(const QString &text, bool *ok = nullptr);

// A volume in microlitres as short text: "250 uL", "1.5 mL", "1.235 L".
CORE_EXPORT QString humanReadableVolume(int volume);
// As above, except that the volume kind 0x1000, when not detailed, is shown in
// litres with one decimal, and below 0.1 L as "<0.1 L".
CORE_EXPORT QString humanReadableVolume(int kind, int volume, bool detailed);

// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, not reflected, no
// final XOR) of length bytes; 0xFFFF when length is zero or less.
CORE_EXPORT unsigned short crc16(const void *data, int length);

// The 19 dilution ratios offered to the user, from "1/1" to "4/5".
CORE_EXPORT QStringList dilutionList();

// Does nothing: Qt 5 already reads 8-bit literals and tr() source texts as
// UTF-8. Kept for callers written against the Qt 4 interface.
CORE_EXPORT void setDefaultCodec();

// Has no state or behaviour; kept because applications refer to it.
class CORE_EXPORT Core
{
public:
    Core();
    Core(const Core &other);
    ~Core();
    Core &operator=(const Core &other);
};

// Sets a flag for the lifetime of a block and puts the old value back.
class CORE_EXPORT BoolLocker
{
public:
    BoolLocker(bool &flag, bool value);
    ~BoolLocker();

private:
    Q_DISABLE_COPY(BoolLocker)
    bool *m_target;
    bool m_saved;
};

// Shows an override cursor for the lifetime of a block. Only the thread of the
// GUI application object touches the cursor stack; on other threads, or with
// no GUI application object, this does nothing.
class CORE_EXPORT WaitCursor
{
public:
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~WaitCursor();
    WaitCursor &operator=(const WaitCursor &) { return *this; }

private:
    WaitCursor(const WaitCursor &) = delete;
};

// Blocks the calling thread; a negative value returns at once. Declared in the
// global namespace beside POSIX ::sleep(unsigned int): an int argument is an
// exact match for this overload, so sleep(50) sleeps 50 milliseconds.
CORE_EXPORT void sleep(int milliseconds);

// The window that should own a dialog: the active modal widget's window, else
// the active window, else null.
CORE_EXPORT QWidget *topLevelWidget();

// Modal message boxes titled with the application name, owned by
// topLevelWidget(), shown with an arrow cursor. By default a box has a single
// Ok button and the toolkit picks the default button.
CORE_EXPORT QMessageBox::StandardButton
information(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
question(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
warning(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
critical(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

#endif // KRGLOBAL_H
