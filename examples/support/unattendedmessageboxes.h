#ifndef UNATTENDEDMESSAGEBOXES_H
#define UNATTENDEDMESSAGEBOXES_H

#include <QtCore/QObject>

#include <functional>

class QMessageBox;

// Answers every message box of the application as the Escape key would, for
// a program that runs where nobody can see a window (the offscreen platform,
// a screenshot under a virtual display). Each box is handed to `report`
// before it is answered, so that its text is not lost.
class UnattendedMessageBoxes : public QObject
{
    Q_OBJECT

public:
    using Report = std::function<void(const QMessageBox &box)>;

    explicit UnattendedMessageBoxes(Report report, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Report m_report;
};

#endif // UNATTENDEDMESSAGEBOXES_H
