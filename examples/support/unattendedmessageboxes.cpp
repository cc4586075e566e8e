#include "unattendedmessageboxes.h"

#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

UnattendedMessageBoxes::UnattendedMessageBoxes(Report report, QObject *parent)
    : QObject(parent)
    , m_report(std::move(report))
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool UnattendedMessageBoxes::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (!box || event->type() != QEvent::Show)
        return false;
    m_report(*box);
    // Answered from the box's own event loop: exec() shows the box before it
    // starts that loop, and a box closed while it is shown would leave exec()
    // waiting for good.
    QTimer::singleShot(0, box, [box] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &escape);
        // A box whose buttons leave Escape nothing to press is closed all the same.
        if (box->isVisible())
            box->reject();
    });
    return false;
}
