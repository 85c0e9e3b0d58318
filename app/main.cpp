#include "settings/StringTable.h"
#include "ui/Startup.h"
#include "ui/frmExport.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Treelan"));
    QApplication::setApplicationVersion(QStringLiteral(TREELAN_VERSION));

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
