#include "messageboxanswerer.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton button, QObject *parent)
    : QObject(parent)
    , m_button(button)
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    m_timer.start(10);
}

void MessageBoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const QCursor *cursor = QApplication::overrideCursor();
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    if (box->defaultButton())
        defaultButton = box->standardButton(box->defaultButton());
    seen.append({box->windowTitle(), box->text(), box->icon(), box->parentWidget(),
                 box->standardButtons(), defaultButton,
                 cursor ? cursor->shape() : Qt::BitmapCursor});
    if (QAbstractButton *pressed = box->button(m_button))
        pressed->click();
    else
        box->done(m_button);
}
