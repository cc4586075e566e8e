#ifndef PROGRAMSTART_H
#define PROGRAMSTART_H

#include <functional>
#include <memory>

class QWidget;

// What an example program with a window says about itself on its command
// line, and how it starts.
struct ProgramDescription
{
    const char *applicationName;
    const char *description; // for --help, in English: settings.ini is not read yet
    const char *directoryHelp;
    // Lays out an installation in the directory when it has none.
    bool layOut;
    // Base name of the program's own translation files.
    const char *translation;
};

// The start of the settings editor and the curve viewer: the application
// object, the command line ([directory] and --screenshot file.png), the
// installation made the current directory (the store and the translations
// read settings.ini and the databases from there), message boxes answered
// while only a picture is taken, the library's translations and the
// program's own, a word when no installed font shows Chinese. Then it shows
// the window that makeWindow() makes and runs the event loop. Returns the
// exit status.
int runProgram(int argc, char **argv, const ProgramDescription &program,
               const std::function<std::unique_ptr<QWidget>()> &makeWindow);

// Writes a line to the error output when the language of settings.ini is
// Chinese and no installed font has Chinese glyphs: every text would show as
// empty boxes.
void warnWithoutChineseFont();

#endif // PROGRAMSTART_H
