#include "delimitervalidator.h"

#include <utility>

DelimiterValidator::DelimiterValidator(QString allowed, QObject *parent)
    : QValidator(parent), m_allowed(std::move(allowed))
{
}

QValidator::State DelimiterValidator::validate(QString &input, int &) const
{
    if (input.isEmpty())
        return Acceptable;
    if (input.size() == 1 && m_allowed.contains(input.front()))
        return Acceptable;
    return Invalid;
}
