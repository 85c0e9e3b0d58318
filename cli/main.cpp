#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "treelan-cli " TREELAN_VERSION "\n";
    return 0;
}
