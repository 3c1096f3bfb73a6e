#include <QApplication>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "link/PortBackends.h"
#include "view/OptionsForm.h"

int main(int argc, char* argv[]) {
    // Taken before Qt removes the options it knows (-style, -reverse, ...) and as raw bytes,
    // so every argument counts and a file name in any encoding still opens.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    QApplication application(argc, argv);

    // The main window runs the start-up sequence while it is made, before the others exist;
    // it makes the two test windows itself.
    tarvex::TMain Main(tarvex::CreatePortAccess(), arguments);
    tarvex::TOptions Options(Main.Model());
    Main.AttachOptions(&Options);
    Main.show();
    return Main.RunMessageLoop();
}
