// The floor for the start-up benchmark: what any Qt Widgets program pays to a tray icon and a
// window, named as Nimbril's are (PROGRAM=build/bench/startup_floor bench/startup_bench.sh).
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char* argv[])
{
    // As Nimbril does: no OpenGL driver loaded at start.
    qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nimbril"));
    QPixmap picture(16, 16);
    picture.fill(Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.show();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Nimbril"));
    window.resize(153, 142);
    window.show();
    return app.exec();
}
