// Shows the clot curves that an installation's data database holds.
#include "curveviewerwindow.h"
#include "profile.h"
#include "programstart.h"

int main(int argc, char *argv[])
{
    return runProgram(
        argc, argv,
        {"coagulation-curve-viewer",
         "Shows the clot curves that the data database of an installation holds.",
         "The installation, by default the current directory.", false, "curveviewer"},
        [] { return std::make_unique<CurveViewerWindow>(Profile::instance().dataDatabase()); });
}
