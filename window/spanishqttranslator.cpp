#include "spanishqttranslator.h"

#include <QLibraryInfo>

SpanishQtTranslator::SpanishQtTranslator(QObject *parent) : QTranslator(parent)
{
    // qtbase holds the widgets' texts; a missing file is not worth stopping the program for.
    static_cast<void>(
        load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
}
