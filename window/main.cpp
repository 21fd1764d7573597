#include "frmdovezurad.h"
#include "scriptreplacement.h"
#include "spanishqttranslator.h"
#include "systemmessageboxes.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    finishInterruptedRewrites();
    QApplication application(argc, argv);
    SpanishQtTranslator spanish;
    QApplication::installTranslator(&spanish);

    SystemMessageBoxes messageBoxes;
    frmDovezurad window(messageBoxes);
    window.show();
    return QApplication::exec();
}
