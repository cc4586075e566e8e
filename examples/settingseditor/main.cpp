// Edits the typed display and workflow settings of an installation.
#include "installation.h"
#include "krglobal.h"
#include "mainwindow.h"
#include "profile.h"
#include "programtranslator.h"
#include "screenshot.h"
#include "unattendedmessageboxes.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include <cstdio>
#include <memory>

static int fail(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    return 1;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("coagulation-settings-editor"));

    // The command line is read before settings.ini names a language, so it
    // speaks English whatever the installation's language.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Edits the display and workflow settings of an installation."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("directory"),
        QStringLiteral("The installation, by default the current directory; laid out when "
                       "it has none."),
        QStringLiteral("[directory]"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Saves a picture of the window once it is shown, and exits."),
        QStringLiteral("file.png"));
    parser.addOption(screenshot);
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1)
        parser.showHelp(1);
    // Named from where the program was started, before it changes directory.
    const QString picture = parser.isSet(screenshot)
        ? QFileInfo(parser.value(screenshot)).absoluteFilePath()
        : QString();
    // The store and the translations read settings.ini and the databases
    // from the current directory.
    if (!arguments.isEmpty()) {
        const QString directory = arguments.first();
        if (!QDir().mkpath(directory) || !QDir::setCurrent(directory))
            return fail(QStringLiteral("Cannot enter the directory %1").arg(directory));
    }
    QString error;
    if (!Installation::layOut(QDir::currentPath(), &error))
        return fail(QStringLiteral("Cannot lay out an installation: %1").arg(error));

    // Nobody would see a box that the store shows at start-up while the
    // program only takes a picture of itself.
    std::unique_ptr<UnattendedMessageBoxes> unattended;
    if (!picture.isEmpty()) {
        unattended.reset(
            new UnattendedMessageBoxes([](const QMessageBox &box) { fail(box.text()); }));
    }

    installTranslators();
    installProgramTranslator(QStringLiteral("settingseditor"));
    MainWindow window(Profile::instance());
    window.show();
    if (!picture.isEmpty())
        quitAfterScreenshot(&window, picture);
    return app.exec();
}
