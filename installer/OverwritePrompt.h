#pragma once
// How the install asks whether an existing file is to be replaced. The program asks with the
// frmExists window; tests answer in code.

class QString;
class QWidget;

namespace installer {

class OverwritePrompt {
public:
    struct Answer {
        bool Overwrite = false;  // "Overwrite" (true) or "Skip" (false)
        bool ApplyToAll = false; // "perform this action for all files." was ticked
    };
    virtual ~OverwritePrompt() = default;
    // file: the existing file, as its path below the data folder ("Meshes\\x.nif").
    virtual Answer Ask(QWidget* owner, const QString& file) = 0;
};

} // namespace installer
