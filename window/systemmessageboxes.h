#pragma once

#include "messageboxes.h"

// The real boxes and the system beep.
class SystemMessageBoxes final : public MessageBoxes
{
public:
    int messageBox(QWidget *parent, const QString &prompt, int style,
                   const QString &title) override;
    void beep() override;
};
