// Saves what the X server's screen shows, or one rectangle of it, so that the program running on
// a machine without a display (under Xvfb) can be looked at.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <iostream>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 6) {
        std::cerr << "uso: dovezurad_screenshot ARCHIVO.png [X Y ANCHO ALTO]\n";
        return 2;
    }
    int rectangle[4] = {0, 0, -1, -1};
    for (int i = 2; i < argc; ++i)
        rectangle[i - 2] = QString::fromLocal8Bit(argv[i]).toInt();
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, rectangle[0], rectangle[1],
                                                                      rectangle[2], rectangle[3]);
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::cerr << "no se pudo guardar " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
