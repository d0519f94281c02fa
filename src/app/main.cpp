#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Vellorin - Data Recovery"));
    window.resize(1100, 750);
    window.show();
    return app.exec();
}
