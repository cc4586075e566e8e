#include "krglobal.h"

#include "corelogging_p.h"

#include <QtCore/QPointer>
#include <QtCore/QThread>
#include <QtWidgets/QApplication>

#ifdef Q_OS_WIN
#include <QtCore/qt_windows.h>
#endif

// Scope guards, sleep and the message boxes: what touches the user.

Core::Core() = default;
Core::Core(const Core &) = default;
Core::~Core() = default;
Core &Core::operator=(const Core &) = default;

BoolLocker::BoolLocker(bool &flag, bool value)
    : m_target(&flag)
    , m_saved(flag)
{
    flag = value;
}

BoolLocker::~BoolLocker()
{
    *m_target = m_saved;
}

// The cursor stack belongs to the GUI application object and its thread.
// Under a plain QCoreApplication, Qt 5 would reach GUI-only data and crash.
static bool onGuiApplicationThread()
{
    const auto *app = qobject_cast<const QGuiApplication *>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

WaitCursor::WaitCursor(Qt::CursorShape shape)
{
    if (onGuiApplicationThread())
        QApplication::setOverrideCursor(QCursor(shape));
}

WaitCursor::~WaitCursor()
{
    if (onGuiApplicationThread())
        QApplication::restoreOverrideCursor();
}

void sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
#ifdef Q_OS_WIN
    Sleep(DWORD(milliseconds));
#else
    QThread::msleep(static_cast<unsigned long>(milliseconds));
#endif
}

// Widgets exist only under a QApplication, and only on its thread.
static bool onWidgetThread()
{
    const auto *app = qobject_cast<const QApplication *>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

QWidget *topLevelWidget()
{
    if (!onWidgetThread())
        return nullptr;
    QWidget *widget = QApplication::activeModalWidget();
    if (!widget)
        widget = QApplication::activeWindow();
    return widget ? widget->window() : nullptr;
}

// The button that Escape presses in a box with these buttons, found as the
// message box itself finds it: Cancel; else the only button; else the only
// button with the reject role; else the only one with the "no" role; else none.
static QMessageBox::StandardButton escapeAnswer(QMessageBox::StandardButtons buttons)
{
    if (!buttons)
        return QMessageBox::Ok; // a box without buttons gets an Ok button
    if (buttons & QMessageBox::Cancel)
        return QMessageBox::Cancel;
    const auto only = [buttons](QMessageBox::StandardButtons role) {
        const QMessageBox::StandardButtons present = buttons & role;
        const auto value = uint(present);
        const bool single = value && !(value & (value - 1));
        return single ? QMessageBox::StandardButton(value) : QMessageBox::NoButton;
    };
    if (const auto single = only(buttons))
        return single;
    if (const auto reject = only(QMessageBox::Close | QMessageBox::Abort))
        return reject;
    return only(QMessageBox::No | QMessageBox::NoToAll);
}

static QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString &text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    const QMessageBox::StandardButton escape = escapeAnswer(buttons);
    if (!onWidgetThread()) {
        // A service, a command-line tool or a worker thread: no box can be
        // shown, so the text goes to the warning channel and the answer is
        // the one the user would most likely give without reading it.
        qCWarning(lcCore).noquote() << text;
        return defaultButton != QMessageBox::NoButton ? defaultButton : escape;
    }

    WaitCursor arrow(Qt::ArrowCursor);
    // On the heap behind a guard: the owner may be deleted while the box is
    // open (a window closing itself, a watchdog), and takes the box with it.
    QPointer<QMessageBox> box(new QMessageBox(icon, QCoreApplication::applicationName(), text,
                                              buttons, topLevelWidget()));
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    const auto answer = QMessageBox::StandardButton(box->exec());
    if (!box)
        return escape; // deleted with its owner
    delete box.data();
    // No button ends the box when its event loop is ended from outside
    // (QCoreApplication::quit()): closed without a choice, too.
    return answer == QMessageBox::NoButton ? escape : answer;
}

QMessageBox::StandardButton information(const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Warning, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Critical, text, buttons, defaultButton);
}
