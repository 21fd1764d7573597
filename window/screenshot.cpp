// Saves what the X server's screen shows, so that the program running on a machine without a
// display (under Xvfb) can be looked at.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <iostream>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::cerr << "uso: dovezurad_screenshot ARCHIVO.png\n";
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::cerr << "no se pudo guardar " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
