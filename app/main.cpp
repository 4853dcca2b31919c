#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QApplication::setOrganizationDomain(QStringLiteral("vortane.example"));
    QApplication::setApplicationName(QStringLiteral("Quillon"));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quillon"));
    window.resize(1000, 800);
    window.show();
    return app.exec();
}
