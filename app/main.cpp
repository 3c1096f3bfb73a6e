#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "host/StandardStreams.h"
#include "host/Version.h"
#include "link/PortBackends.h"
#include "view/OptionsForm.h"

int main(int argc, char* argv[]) {
    tarvex::KeepStandardDescriptorsOpen();
    // Taken before Qt removes the options it knows (-style, -reverse, ...) and as raw bytes,
    // so every argument counts and a file name in any encoding still opens.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // Answered before any window or port is touched, so it works without a display. A data
    // file of this name still opens as ./--version.
    if (arguments == std::vector<std::string>{"--version"}) {
        std::printf("Tarvex32 %s\n", TARVEX_VERSION);
        return 0;
    }
    QApplication application(argc, argv);

    // The main window runs the start-up sequence while it is made, before the others exist;
    // it makes the two test windows itself.
    tarvex::TMain Main(tarvex::CreatePortAccess(), arguments);
    tarvex::TOptions Options(Main.Model());
    Main.AttachOptions(&Options);
    Main.show();
    return Main.RunMessageLoop();
}
