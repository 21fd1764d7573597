#include "spanishqttranslator.h"

#include <QLibraryInfo>

SpanishQtTranslator::SpanishQtTranslator(QObject *parent) : QTranslator(parent)
{
    // qtbase holds the widgets' texts; a missing file is not worth stopping the program for. A
    // program linked whole, with no Qt installed beside it, carries the file inside itself.
    if (!load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        static_cast<void>(load(QStringLiteral("qtbase_es"), QStringLiteral(":/i18n")));
}
