#include <QApplication>
#include <QStringList>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "diag/ExtTestForm.h"
#include "diag/StdTestForm.h"
#include "link/PortBackends.h"
#include "view/OptionsForm.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);

    std::vector<std::string> arguments;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        arguments.push_back(all[i].toLocal8Bit().toStdString());
    }

    // The main window runs the start-up sequence while it is made, before the others exist.
    tarvex::TMain Main(tarvex::CreatePortAccess(), std::move(arguments));
    tarvex::TOptions Options;
    tarvex::TStdTest StdTest;
    tarvex::TExtTest ExtTest;
    Main.show();
    return Main.RunMessageLoop();
}
