#ifndef KRGLOBAL_H
#define KRGLOBAL_H

#include "core_global.h"
#include "krtypes.h"

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtWidgets/QMessageBox>

/**
 * @file krglobal.h
 * Common services: ratios, volumes, CRC-16, dilutions, sample numbers, scripts,
 * translations, scope guards, message boxes.
 *
 * Only nextSampleNo() and samplePrefix() use the settings store (and start it
 * on first use, see Profile). The message boxes and the cursor guard act only
 * on the thread of a QApplication; everything else may run on any thread.
 */

/// @addtogroup services
/// @{

class QDate;
class QSqlRecord;
class QWidget;

/**
 * The value of the first ratio ("1/10", "1:4", "-1.5 / 3") found anywhere in
 * text, or 0.0 when there is none; *ok tells which. Any decimal digit counts by
 * its value, so full-width digits typed in an input method read as well. A
 * zero divisor yields the IEEE infinity, still with *ok true; "0/0" is no
 * ratio (0.0, *ok false). Linear in the length of text; safe to call from any
 * thread.
 */
CORE_EXPORT double fraction(const QString &text, bool *ok = nullptr);

/** A volume in microlitres as short text: "250 uL", "1.5 mL", "1.235 L". */
CORE_EXPORT QString humanReadableVolume(int volume);
/**
 * As above, except that the volume kind 0x1000, when not detailed, is shown in
 * litres with one decimal, and below 0.1 L as "<0.1 L".
 */
CORE_EXPORT QString humanReadableVolume(int kind, int volume, bool detailed);

/**
 * CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, not reflected, no
 * final XOR) of length bytes; 0xFFFF when length is zero or less.
 */
CORE_EXPORT unsigned short crc16(const void *data, int length);

/** The 19 dilution ratios offered to the user, from "1/1" to "4/5". */
CORE_EXPORT QStringList dilutionList();

/**
 * Does nothing: Qt 5 and Qt 6 already read 8-bit literals and tr() source
 * texts as UTF-8. Kept for callers written against the Qt 4 interface.
 */
CORE_EXPORT void setDefaultCodec();

/**
 * One more than the largest sample number stored in the table `patient` of
 * the data database for date, counting each number by its leading digits;
 * 1 when there is none or the query fails (with a warning line). A failure
 * (another program holding data.db locked past the busy time-out, say) is
 * therefore indistinguishable from a day without samples: prefer the
 * overload with @p ok, which can tell. Nothing is reserved: the number is
 * free only until a row with it is stored. Starts the settings store on
 * first use; any thread (a thread other than the store's asks through a
 * connection of its own, so all threads see the same rows).
 */
CORE_EXPORT int nextSampleNo(const QDate &date);
/**
 * As above, but a query that fails sets *ok to false and gives 0, never a
 * number that may already be taken; *ok is true otherwise.
 *
 * @code
 * bool ok = false;
 * const int sampleNo = nextSampleNo(QDate::currentDate(), &ok);
 * if (!ok)
 *     return; // try again later; the warning line says why
 * @endcode
 */
CORE_EXPORT int nextSampleNo(const QDate &date, bool *ok);

/**
 * The configured prefix of statim and QC sample numbers ("S" and "QC" unless
 * set); empty for routine samples. Starts the settings store on first use.
 */
CORE_EXPORT QString samplePrefix(kr::SampleType type);

/**
 * Sets the field's value and marks it generated, so that the insert and update
 * statements built from record include it. A name the record lacks is ignored.
 */
CORE_EXPORT void setGeneratedValue(QSqlRecord &record, const QString &name, const QVariant &value);

/**
 * Runs an ECMAScript program in an engine of its own and returns the value of
 * its last expression statement: a number as a double, a string, a boolean, a
 * date as a QDateTime, an Error object as its message, an array as a list and
 * another object as a map of its own properties; undefined, null, functions
 * and symbols give an invalid variant. An object inside itself, or nesting
 * deeper than 1000 levels, ends in an empty list or map. A result too large to
 * convert gives a warning and an invalid variant, not part of the result: one
 * of more than 1048576 values (every element, hole and property counting one,
 * and every list and map one more for each level it is nested in) or of more
 * than 33554432 characters of strings and property names. Errors are not
 * reported: a thrown value comes back converted the same way. Before the
 * application object exists nothing runs: a warning, and an invalid variant.
 * Safe on any thread; where QtScript runs the scripts (Qt 5 builds unless
 * configured with COAGULATION_SCRIPT_ENGINE=QJSEngine) calls on several
 * threads run one after another, as its engines share state.
 */
CORE_EXPORT QVariant eval(const QString &program);

/**
 * As eval, on the content of a UTF-8 script file. A program that ends in an
 * error is shown in a critical message box and gives an invalid variant; a
 * result too large to convert gives a warning and an invalid variant, without
 * a box; a file that cannot be read is an empty program.
 */
CORE_EXPORT QVariant load_script(const QString &fileName);

/**
 * Installs into the application the translation files named in the
 * "settings" group of settings.ini in the current directory (by default
 * "qt", "kr" and the company's file, each with "_" and the language appended,
 * "zh_CN" unless set), searched in ".", "..", "../translations", the Qt
 * translations directory and last where the library's own translations are
 * installed (found relative to the library's file, so a relocated
 * installation works). Files installed later take precedence. A file found
 * nowhere writes a debug line naming the directories searched, unless it is
 * in its texts' own language (Chinese for the library's, English for Qt's). Call
 * once, on the GUI thread, after the application object exists.
 */
CORE_EXPORT void installTranslators();
/**
 * As above, and a file found in none of the four directories is also looked
 * for in `directory` (before the installed translations).
 */
CORE_EXPORT void installTranslators(const QString &directory);

/** Has no state or behaviour; kept because applications refer to it. */
class CORE_EXPORT Core
{
public:
    Core();
    Core(const Core &other);
    ~Core();
    Core &operator=(const Core &other);
};

/** Sets a flag for the lifetime of a block and puts the old value back. */
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

/**
 * Shows an override cursor for the lifetime of a block. Only the thread of the
 * GUI application object touches the cursor stack; on other threads, or with
 * no GUI application object, this does nothing.
 */
class CORE_EXPORT WaitCursor
{
public:
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~WaitCursor();
    WaitCursor &operator=(const WaitCursor &) { return *this; }

private:
    WaitCursor(const WaitCursor &) = delete;
};

/**
 * Blocks the calling thread for the given number of MILLISECONDS; a negative
 * value returns at once.
 *
 * Beware: this shares its name with POSIX `sleep(unsigned int)`, which counts
 * SECONDS. An int argument picks this overload (`sleep(50)` sleeps 50 ms), but
 * an unsigned one (`sleep(50u)`, a size_t, a quint32) silently picks the POSIX
 * function and sleeps 50 seconds. Cast to int when in doubt.
 */
CORE_EXPORT void sleep(int milliseconds);

/**
 * The window that should own a dialog: the active modal widget's window, else
 * the active window, else null. Always null without a QApplication or off its
 * thread.
 */
CORE_EXPORT QWidget *topLevelWidget();

/**
 * @name Message boxes
 * Modal message boxes titled with the application name, owned by
 * topLevelWidget(), shown with an arrow cursor. By default a box has a single
 * Ok button and the toolkit picks the default button.
 *
 * If the owner is deleted while the box is open, the box goes with it, and
 * the function returns what Escape would have: Cancel, the only button, the
 * only Close/Abort button or the only No button, else NoButton; the same when
 * the box is ended from outside (QCoreApplication::quit()). Without a
 * QApplication (a service, a command-line tool) or off its thread no box is
 * shown: the text goes to the warning channel and the function returns
 * defaultButton, or Escape's answer when no default button is given.
 */
///@{
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
///@}

/// @}

#endif // KRGLOBAL_H
