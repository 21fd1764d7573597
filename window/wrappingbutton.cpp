#include "wrappingbutton.h"

#include <QFontMetrics>
#include <QStyleOptionButton>
#include <QStylePainter>

QStringList WrappingButton::captionLines() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const int room = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).width();
    const QFontMetrics metrics(font());
    if (metrics.horizontalAdvance(text()) <= room)
        return {text()};
    QStringList lines;
    for (const QString &word : text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lines.isEmpty() &&
            metrics.horizontalAdvance(lines.back() + QLatin1Char(' ') + word) <= room)
            lines.back() += QLatin1Char(' ') + word;
        else
            lines.push_back(word);
    }
    return lines;
}

void WrappingButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The style centres each line of a caption that holds line breaks.
    option.text = captionLines().join(QLatin1Char('\n'));
    painter.drawControl(QStyle::CE_PushButton, option);
}
