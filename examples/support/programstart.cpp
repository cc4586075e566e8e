#include "programstart.h"

#include "installation.h"
#include "krglobal.h"
#include "programtranslator.h"
#include "screenshot.h"
#include "unattendedmessageboxes.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtGui/QFontDatabase>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QWidget>

#include <cstdio>

static int fail(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    return 1;
}

void warnWithoutChineseFont()
{
    const QSettings settings(QStringLiteral("settings.ini"), QSettings::IniFormat);
    const QString language =
        settings.value(QStringLiteral("settings/language"), QStringLiteral("zh_CN")).toString();
    if (!language.startsWith(QLatin1String("zh")))
        return;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
#else
    const QStringList families = QFontDatabase().families(QFontDatabase::SimplifiedChinese);
#endif
    if (families.isEmpty())
        fail(QStringLiteral("No installed font has Chinese glyphs: every Chinese text shows as "
                            "empty boxes. Install one, for instance Debian's fonts-wqy-microhei."));
}

int runProgram(int argc, char **argv, const ProgramDescription &program,
               const std::function<std::unique_ptr<QWidget>()> &makeWindow)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(program.applicationName));

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(program.description));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("directory"), QLatin1String(program.directoryHelp),
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
    QString directory = arguments.value(0);
    // Started from a menu, a program's current directory is the home
    // directory: it asks for the installation rather than take that.
    if (directory.isEmpty() && picture.isEmpty()
        && !QFileInfo::exists(QStringLiteral("settings.ini"))
        && !QFileInfo::exists(QStringLiteral("profile.db"))) {
        directory = QFileDialog::getExistingDirectory(
            nullptr, QCoreApplication::translate("ProgramStart", "选择安装目录"));
        if (directory.isEmpty())
            return 0;
    }
    if (!directory.isEmpty()) {
        if ((program.layOut && !QDir().mkpath(directory)) || !QDir::setCurrent(directory))
            return fail(QStringLiteral("Cannot enter the directory %1").arg(directory));
    }
    QString error;
    if (program.layOut && !Installation::layOut(QDir::currentPath(), &error))
        return fail(QStringLiteral("Cannot lay out an installation: %1").arg(error));

    // Nobody would see a box that the store shows at start-up while the
    // program only takes a picture of itself.
    std::unique_ptr<UnattendedMessageBoxes> unattended;
    if (!picture.isEmpty()) {
        unattended.reset(
            new UnattendedMessageBoxes([](const QMessageBox &box) { fail(box.text()); }));
    }

    installTranslators();
    installProgramTranslator(QLatin1String(program.translation));
    warnWithoutChineseFont();
    const std::unique_ptr<QWidget> window = makeWindow();
    window->show();
    if (!picture.isEmpty())
        quitAfterScreenshot(window.get(), picture);
    return app.exec();
}
