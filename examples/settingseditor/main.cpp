// Edits the typed display and workflow settings of an installation.
#include "krglobal.h"
#include "mainwindow.h"
#include "profile.h"
#include "schemalayout.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <cstdio>

static QString translate(const char *text)
{
    return QCoreApplication::translate("main", text);
}

static int fail(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return 1;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("coagulation-settings-editor"));

    QCommandLineParser parser;
    parser.setApplicationDescription(translate("编辑安装目录中的显示和流程设置。"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("directory"),
                                 translate("安装目录，默认为当前目录；没有安装时新建一个。"),
                                 QStringLiteral("[directory]"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        translate("显示窗口后将其保存为图片并退出。"),
                                        QStringLiteral("file.png"));
    parser.addOption(screenshot);
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1)
        parser.showHelp(1);
    // The store and the translations read settings.ini and the databases
    // from the current directory.
    if (!arguments.isEmpty()) {
        const QString directory = arguments.first();
        if (!QDir().mkpath(directory) || !QDir::setCurrent(directory))
            return fail(translate("无法进入目录 %1").arg(directory));
    }
    QString error;
    if (!SchemaLayout::layOutInstallation(&error))
        return fail(translate("无法建立安装：%1").arg(error));

    installTranslators();
    MainWindow window(Profile::instance());
    window.show();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(0, &window, [&window, file] {
            // The view lays out its rows from the event loop, after show().
            QCoreApplication::processEvents();
            if (!window.grab().save(file)) {
                fail(translate("无法保存图片 %1").arg(file));
                QCoreApplication::exit(1);
                return;
            }
            QCoreApplication::quit();
        });
    }
    return app.exec();
}
