#include "krglobal.h"
#include "messageboxanswerer.h"
#include "testinstallation.h"

#include <QtCore/QSemaphore>
#include <QtCore/QThread>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>

#include <functional>
#include <thread>
#include <utility>

using Box = QMessageBox;
using ShowFunction = Box::StandardButton (*)(const QString &, Box::StandardButtons,
                                             Box::StandardButton);
Q_DECLARE_METATYPE(ShowFunction)
Q_DECLARE_METATYPE(Box::Icon)
Q_DECLARE_METATYPE(Box::StandardButton)
Q_DECLARE_METATYPE(Box::StandardButtons)

// Depth of the override-cursor stack, found by emptying it and building it
// up again.
static int overrideCursorDepth()
{
    QList<QCursor> cursors;
    while (const QCursor *cursor = QApplication::overrideCursor()) {
        cursors.prepend(*cursor);
        QApplication::restoreOverrideCursor();
    }
    for (const QCursor &cursor : qAsConst(cursors))
        QApplication::setOverrideCursor(cursor);
    return cursors.size();
}

class tst_Interaction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void nestedWaitCursors();
    void waitCursorOnWorkerThread();
    void messageBox_data();
    void messageBox();
    void messageBoxShowsArrowUnderBusyCursor();
    void ownerFollowsActiveWindow();
    void ownerDeletedWhileBoxOpen_data();
    void ownerDeletedWhileBoxOpen();
    void boxEndedByQuit();
    void noBoxOffTheGuiThread();
};

// Runs `action` on the first message box that comes up while it lives.
class OnMessageBox : public QObject
{
public:
    explicit OnMessageBox(std::function<void(QMessageBox *)> action)
        : m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible() && m_action) {
                m_timer.stop();
                std::exchange(m_action, nullptr)(box);
            }
        });
        m_timer.start(10);
    }

private:
    std::function<void(QMessageBox *)> m_action;
    QTimer m_timer;
};

void tst_Interaction::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("凝血分析"));
}

void tst_Interaction::cleanup()
{
    // A failed test must not leave cursors behind for the next one.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void tst_Interaction::nestedWaitCursors()
{
    QCOMPARE(overrideCursorDepth(), 0);
    {
        WaitCursor outer;
        QCOMPARE(overrideCursorDepth(), 1);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            WaitCursor inner(Qt::CrossCursor);
            QCOMPARE(overrideCursorDepth(), 2);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
        }
        QCOMPARE(overrideCursorDepth(), 1);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

        WaitCursor copy(Qt::IBeamCursor);
        copy = outer; // assignment changes nothing on the stack
        QCOMPARE(overrideCursorDepth(), 2);
    }
    QCOMPARE(overrideCursorDepth(), 0);
}

void tst_Interaction::waitCursorOnWorkerThread()
{
    WaitCursor busy;
    QSemaphore made, release;
    QThread *worker = QThread::create([&] {
        WaitCursor ignored(Qt::CrossCursor);
        made.release();
        release.acquire();
    });
    worker->start();
    QVERIFY(made.tryAcquire(1, 30000));
    // The worker's guard is alive now: nothing was pushed.
    QCOMPARE(overrideCursorDepth(), 1);
    release.release();
    QVERIFY(worker->wait(30000));
    delete worker;
    // ... and its end popped nothing of ours.
    QCOMPARE(overrideCursorDepth(), 1);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void tst_Interaction::messageBox_data()
{
    QTest::addColumn<ShowFunction>("show");
    QTest::addColumn<Box::Icon>("icon");
    QTest::addColumn<Box::StandardButtons>("buttons");
    QTest::addColumn<Box::StandardButton>("defaultButton");
    QTest::addColumn<Box::StandardButton>("press");

    const Box::StandardButtons yesNo = Box::Yes | Box::No;
    const Box::StandardButtons okCancel = Box::Ok | Box::Cancel;
    QTest::newRow("information") << ShowFunction(information) << Box::Information
                                 << Box::StandardButtons(Box::Ok) << Box::NoButton << Box::Ok;
    QTest::newRow("question") << ShowFunction(question) << Box::Question << yesNo << Box::No
                              << Box::Yes;
    QTest::newRow("warning") << ShowFunction(warning) << Box::Warning << okCancel << Box::Cancel
                             << Box::Cancel;
    QTest::newRow("critical") << ShowFunction(critical) << Box::Critical
                              << Box::StandardButtons(Box::Ok) << Box::NoButton << Box::Ok;
    QTest::newRow("critical, retry") << ShowFunction(critical) << Box::Critical
                                     << (Box::Retry | Box::Abort) << Box::Retry << Box::Abort;
}

void tst_Interaction::messageBox()
{
    QFETCH(ShowFunction, show);
    QFETCH(Box::Icon, icon);
    QFETCH(Box::StandardButtons, buttons);
    QFETCH(Box::StandardButton, defaultButton);
    QFETCH(Box::StandardButton, press);

    MessageBoxAnswerer answerer(press);
    QCOMPARE(show(QStringLiteral("数据库错误"), buttons, defaultButton), press);
    QCOMPARE(answerer.seen.size(), 1);
    const MessageBoxAnswerer::Seen &seen = answerer.seen.first();
    QCOMPARE(seen.icon, icon);
    QCOMPARE(seen.title, QStringLiteral("凝血分析"));
    QCOMPARE(seen.text, QStringLiteral("数据库错误"));
    QCOMPARE(seen.buttons, buttons);
    QCOMPARE(seen.overrideCursor, Qt::ArrowCursor);
    if (defaultButton != Box::NoButton)
        QCOMPARE(seen.defaultButton, defaultButton);
    QCOMPARE(overrideCursorDepth(), 0);
}

void tst_Interaction::messageBoxShowsArrowUnderBusyCursor()
{
    WaitCursor busy;
    MessageBoxAnswerer answerer;
    QCOMPARE(information(QStringLiteral("完成")), Box::Ok);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.first().overrideCursor, Qt::ArrowCursor);
    QCOMPARE(overrideCursorDepth(), 1);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void tst_Interaction::ownerFollowsActiveWindow()
{
    MessageBoxAnswerer answerer;

    QVERIFY(!topLevelWidget());
    warning(QStringLiteral("无主窗口"));
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY(!answerer.seen.last().owner);

    QWidget mainWindow;
    mainWindow.show();
    QApplication::setActiveWindow(&mainWindow);
    QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
    QCOMPARE(topLevelWidget(), &mainWindow);
    warning(QStringLiteral("主窗口"));
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen.last().owner.data(), &mainWindow);

    // A modal dialog wins over the main window, even with the main window
    // made the active one again.
    QDialog dialog(&mainWindow);
    dialog.setModal(true);
    dialog.show();
    QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
    QApplication::setActiveWindow(&mainWindow);
    QCOMPARE(QApplication::activeWindow(), &mainWindow);
    QCOMPARE(topLevelWidget(), &dialog);
    critical(QStringLiteral("对话框"));
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.last().owner.data(), &dialog);
}

void tst_Interaction::ownerDeletedWhileBoxOpen_data()
{
    QTest::addColumn<Box::StandardButtons>("buttons");
    QTest::addColumn<Box::StandardButton>("escape"); // what Escape answers

    QTest::newRow("ok") << Box::StandardButtons(Box::Ok) << Box::Ok;
    QTest::newRow("ok, cancel") << (Box::Ok | Box::Cancel) << Box::Cancel;
    QTest::newRow("yes, no") << (Box::Yes | Box::No) << Box::No;
    QTest::newRow("yes, no, cancel") << (Box::Yes | Box::No | Box::Cancel) << Box::Cancel;
    QTest::newRow("retry, abort") << (Box::Retry | Box::Abort) << Box::Abort;
    QTest::newRow("save, discard") << (Box::Save | Box::Discard) << Box::NoButton;
}

// A window that goes away while its box is open (a watchdog, a window
// closing itself) takes the box with it; the call must come back as if the
// box had been closed without a choice, with nothing freed twice.
void tst_Interaction::ownerDeletedWhileBoxOpen()
{
    QFETCH(Box::StandardButtons, buttons);
    QFETCH(Box::StandardButton, escape);

    // The answer table agrees with what Escape does to a real box.
    if (escape != Box::NoButton) {
        OnMessageBox pressEscape([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(question(QStringLiteral("Escape"), buttons), escape);
    }

    QPointer<QWidget> window = new QWidget;
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QPointer<QMessageBox> shown;
    OnMessageBox deleteOwner([&](QMessageBox *box) {
        shown = box;
        QCOMPARE(box->parentWidget(), window.data());
        delete window;
    });
    QCOMPARE(question(QStringLiteral("窗口将关闭"), buttons), escape);
    QVERIFY(!window);
    QVERIFY(!shown);
    QCOMPARE(overrideCursorDepth(), 0);
}

// The box's event loop ended from outside, as when the application quits
// while a box is open: no button was chosen.
void tst_Interaction::boxEndedByQuit()
{
    Box::StandardButton answer = Box::NoButton;
    OnMessageBox quit([](QMessageBox *) { QCoreApplication::quit(); });
    QTimer::singleShot(
        0, [&answer] { answer = question(QStringLiteral("程序将退出"), Box::Yes | Box::No); });
    // Should quit() leave the box open, Escape ends it, so the test cannot hang.
    OnMessageBox fallback([](QMessageBox *box) {
        QTimer::singleShot(5000, box, [box] { QTest::keyClick(box, Qt::Key_Escape); });
    });
    QCoreApplication::exec(); // quit() ends the box's loop and this one
    QCOMPARE(answer, Box::No);
}

// A worker thread has no widgets: its message goes to the warning channel and
// the call answers at once with the default button, else Escape's answer.
void tst_Interaction::noBoxOffTheGuiThread()
{
    WarningCapture warnings;
    Box::StandardButton withDefault = Box::NoButton, withoutDefault = Box::NoButton;
    bool noOwner = false;
    std::thread worker([&] {
        noOwner = !topLevelWidget();
        withDefault = question(QStringLiteral("覆盖?"), Box::Yes | Box::No, Box::Yes);
        withoutDefault = critical(QStringLiteral("设备错误"), Box::Retry | Box::Abort);
    });
    worker.join();
    QVERIFY(noOwner);
    QCOMPARE(withDefault, Box::Yes);
    QCOMPARE(withoutDefault, Box::Abort);
    QCOMPARE(warnings.lines(), (QStringList{QStringLiteral("覆盖?"), QStringLiteral("设备错误")}));
}

QTEST_MAIN(tst_Interaction)
#include "tst_interaction.moc"
