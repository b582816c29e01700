#pragma once
// Dialogs answered in code, for window tests. Constructing one installs it; destroying it
// restores Qt's dialogs. Answers are taken from the front of their queue; a question with no
// answer left is counted in Unanswered and answered with Cancel or No.

#include "Dialogs.h"
#include "QtPrinters.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace shared_windows {

class ScriptedDialogs : public Dialogs {
public:
    enum class Kind { OpenFile, OpenFiles, SaveFile, ChooseFolder, Message, AskYesNo, Summary };
    struct Call {
        Kind kind;
        QString title;
        QString text; // message or question text
        QString filter;
        QString fileName;         // preset file name of a file dialog
        QStringList items = {};   // the list of a summary
        bool noByDefault = false; // a question with No as its default button
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    std::deque<std::optional<QString>> OpenFileAnswers;
    std::deque<std::optional<QStringList>> OpenFilesAnswers;
    std::deque<std::optional<QString>> SaveFileAnswers;
    std::deque<std::optional<QString>> FolderAnswers;
    std::deque<bool> YesNoAnswers;
    // Run when a message box would be shown (after it was recorded), e.g. to check state.
    std::function<void(const QString& text)> OnMessage;

    std::vector<Call> Calls;
    int Unanswered = 0;

    // The texts of every message box shown so far, in order.
    QStringList Messages() const;
    int CountOf(Kind kind) const;

    std::optional<QString> OpenFile(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& fileName) override;
    std::optional<QStringList> OpenFiles(QWidget* parent, const QString& title,
                                         const QString& filter) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& fileName) override;
    std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                        const QString& start) override;
    void Message(QWidget* parent, const QString& title, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& title, const QString& text,
                  Default byDefault = Default::Yes) override;
    void Summary(QWidget* parent, const QString& title, const QString& text,
                 const QStringList& items) override;
    // The summaries shown so far, in order (nullptr-free pointers into Calls).
    std::vector<const Call*> Summaries() const;
};

// Runs action on the next modal window that opens (polled from the event loop), e.g. to press
// its buttons while the code under test waits in exec(). Gives up after timeoutMs.
void WhenModalShown(std::function<void(QWidget* modal)> action, int timeoutMs = 5000);

} // namespace shared_windows
