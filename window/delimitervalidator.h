#pragma once

#include <QValidator>

// Lets a delimiter field hold nothing or one character of its set, whatever way the text comes
// in (a paste from the context menu is not seen by the key handlers).
class DelimiterValidator final : public QValidator
{
    Q_OBJECT

public:
    explicit DelimiterValidator(QString allowed, QObject *parent = nullptr);

    State validate(QString &input, int &position) const override;

private:
    QString m_allowed;
};
