// SPDX-License-Identifier: GPL-3.0-or-later
// Opens Tarnbeck against a local demo POP3 server: see DemoLauncher.

#include "demo/DemoLauncher.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        QTextStream(stderr) << "usage: tarnbeck-demo PROGRAM DEMO-FOLDER\n"
                            << "  starts a local POP3 server with a demo mailbox and opens PROGRAM,\n"
                            << "  copied into DEMO-FOLDER, with that server in its settings\n";
        return 2;
    }
    DemoLauncher demo(arguments.at(1), arguments.at(2));
    return demo.run();
}
