#include "TreelanConfig.h"
#include "settings/StringTable.h"
#include "ui/Startup.h"
#include "ui/frmExport.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// The source of the man page too (help2man reads it at build time), so keep it in man page shape.
const char kUsage[] =
    "Usage: treelan [FOLDER]\n"
    "\n"
    "Shows the files of FOLDER in a sortable details list (name, folder, size, date, and for MP3\n"
    "files their playing time and bit rate), copies the listing as tab-separated text and exports\n"
    "the folder tree as XML, as XML with a stylesheet line, or as a web archive (.mht).\n"
    "Without FOLDER it shows the program's own folder. The whole command line is one folder\n"
    "path, spaces included.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before any window system is opened, so they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("treelan " TREELAN_VERSION "\n", stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Treelan"));
    QApplication::setApplicationVersion(QStringLiteral(TREELAN_VERSION));
    // Ties the windows to the installed desktop entry (icon, name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral(TREELAN_APP_ID));

    // Whether the string file is used is decided once, here.
    const QString programDir = QCoreApplication::applicationDirPath();
    treelan::SetIniPath(treelan::IniPathFor(programDir));
    treelan::LoadDefaultStrings();

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    treelan::frmExport window(treelan::StartPath(arguments, programDir));
    window.show();
    return QApplication::exec();
}
