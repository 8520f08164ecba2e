#include <QApplication>
#include <QMainWindow>
// Placeholder entry until the main window lands.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow w;
    w.setWindowTitle("Framewhisk");
    w.show();
    return app.exec();
}
