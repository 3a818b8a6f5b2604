#pragma once

// Installs the program's message-box handler: a modal Qt message box.
class QtMessageBoxHandler
{
public:
    static void Install();
};
