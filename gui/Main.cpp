// Entry of the windowed program: the command line, the splash, the main
// window and the event loop.
#include <QGuiApplication>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/GlobalUnit.h"
#include "common/Files.h"
#include "dialogs/WinCover.h"
#include "gui/Application.h"
#include "gui/StartOptions.h"
#include "gui/WinMain.h"
#include "widgets/MessageBox.h"

int main(int argc, char** argv) {
    const std::string Program = "tarnmp4videoconverter";
    TStartOptions Options;
    // Checked before any window: a mistake ends here with the usage.
    try {
        Options = ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& E) {
        std::fprintf(stderr, "%s: %s\n%s", Program.c_str(), E.what(), StartUsageText(Program).c_str());
        return 2;
    }
    if (Options.Help) {
        std::printf("%s", StartUsageText(Program).c_str());
        return 0;
    }
    if (!Options.ProfilesFile.empty() && !FileExists(Options.ProfilesFile)) {
        std::fprintf(stderr, "%s: no profile file %s\n", Program.c_str(), Options.ProfilesFile.c_str());
        return 2;
    }

    // The arguments are ours: Qt sees the program name only.
    int QtArgc = 1;
    TApplication App(QtArgc, argv);
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName("org.tarn.Mp4VideoConverter");
    InstallMessageBoxes();

    auto Cover = std::make_unique<TfrmCover>();
    Cover->ShowNow();
    TfrmMain Main(Options);
    // Boxes belong to the main window from now on, so none hides behind it.
    InstallMessageBoxes(&Main);
    Cover->SetMainWindow(&Main);
    Main.show();
    const int Result = App.exec();
    SetMessageFunction({});
    SetQuestionFunction({});
    return Result;
}
