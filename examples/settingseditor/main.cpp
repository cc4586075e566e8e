// Edits the typed display and workflow settings of an installation.
#include "mainwindow.h"
#include "profile.h"
#include "programstart.h"

int main(int argc, char *argv[])
{
    return runProgram(
        argc, argv,
        {"coagulation-settings-editor",
         "Edits the display and workflow settings of an installation.",
         "The installation, by default the current directory; laid out when it has none.", true,
         "settingseditor"},
        [] { return std::make_unique<MainWindow>(Profile::instance()); });
}
