#ifndef SCREENSHOT_H
#define SCREENSHOT_H

#include <QtCore/QString>

class QWidget;

// Once the event loop has laid out `window`, saves a picture of it to `file`
// and ends the loop: with 0, or with 1 and a line on stderr when the file
// cannot be written.
void quitAfterScreenshot(QWidget *window, const QString &file);

#endif // SCREENSHOT_H
