#pragma once

#include <QPushButton>
#include <QStringList>

// A command button whose caption goes onto two lines where the font makes it wider than the
// button, as a Windows command button does, instead of being cut at both ends.
class WrappingButton final : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

    // The caption's lines as painted: one while it fits, else broken at its spaces.
    QStringList captionLines() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
