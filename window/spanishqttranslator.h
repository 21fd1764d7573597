#pragma once

#include <QTranslator>

// Qt's own texts (context menus, dialog buttons) in Spanish, from the translations installed
// with Qt. Empty when they are not installed; Qt then keeps its English texts.
class SpanishQtTranslator final : public QTranslator
{
    Q_OBJECT

public:
    explicit SpanishQtTranslator(QObject *parent = nullptr);
};
