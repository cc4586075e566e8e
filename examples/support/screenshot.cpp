#include "screenshot.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

#include <cstdio>

void quitAfterScreenshot(QWidget *window, const QString &file)
{
    QTimer::singleShot(0, window, [window, file] {
        // Views lay out their rows from the event loop, after show().
        QCoreApplication::processEvents();
        if (!window->grab().save(file)) {
            std::fprintf(stderr, "Cannot save the picture %s\n", file.toUtf8().constData());
            QCoreApplication::exit(1);
            return;
        }
        QCoreApplication::quit();
    });
}
