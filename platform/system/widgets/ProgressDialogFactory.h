#pragma once

#include "platform/system/ProgressDisplay.h"

// Shows component progress (a copy) in a window-modal QProgressDialog over the owner window.
class ProgressDialogFactory
{
public:
    // Makes ProgressDisplay::Create show these dialogs.
    static void Install();
    static std::unique_ptr<ProgressDisplay> Create(const QString& caption, QObject* owner);
};
