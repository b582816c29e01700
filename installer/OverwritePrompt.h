#pragma once
// How the install asks whether an existing file is to be replaced. The program asks with the
// frmExists window; tests answer in code.

class QWidget;

namespace installer {

class OverwritePrompt {
public:
    struct Answer {
        bool Overwrite = false;  // "Overwrite" (true) or "Skip" (false)
        bool ApplyToAll = false; // "perform this action for all files." was ticked
    };
    virtual ~OverwritePrompt() = default;
    virtual Answer Ask(QWidget* owner) = 0;
};

} // namespace installer
