#ifndef MESSAGEBOXANSWERER_H
#define MESSAGEBOXANSWERER_H

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtWidgets/QMessageBox>

// Answers every modal message box that comes up while it lives: a timer looks
// for the active modal widget, records what the box showed and presses
// `button` (or closes the box with it when the box has no such button).
class MessageBoxAnswerer : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QPointer<QWidget> owner;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        Qt::CursorShape overrideCursor; // Qt::BitmapCursor stands for "none"
    };

    explicit MessageBoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok,
                                QObject *parent = nullptr);

    QList<Seen> seen;

private:
    void poll();

    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

#endif // MESSAGEBOXANSWERER_H
