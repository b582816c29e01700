#pragma once
// The platform's dialogs, reached through one small interface so that tests answer them in
// code. Both programs use Dialogs::instance(); tests install their own with Dialogs::set().

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace shared_windows {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // File dialogs report cancel as nullopt. filter uses the "Description|pattern|..." form.
    // fileName presets the name; a path in it sets the folder the dialog starts in, and a
    // path ending in a separator only the folder.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                            const QString& filter, const QString& fileName) = 0;
    virtual std::optional<QStringList> OpenFiles(QWidget* parent, const QString& title,
                                                 const QString& filter) = 0;
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& title,
                                            const QString& filter, const QString& fileName) = 0;
    // A folder; start is where the dialog begins. The default answers Cancel, for dialogs
    // that have no folder chooser.
    virtual std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                                const QString& start);
    // Message box with OK only, no icon, titled with the program's name.
    virtual void Message(QWidget* parent, const QString& title, const QString& text) = 0;
    // Yes and No; true for Yes. A question before something that cannot be undone, or that a
    // stranger's package brings up, has No as the default button.
    enum class Default { Yes, No };
    virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& text,
                          Default byDefault = Default::Yes) = 0;
    // A closing message with a scrollable list of names (e.g. the files that failed) below it;
    // OK only. The default shows the names in a plain message, for dialogs that have no list.
    virtual void Summary(QWidget* parent, const QString& title, const QString& text,
                         const QStringList& items);

    static Dialogs& instance();
    // Replaces the dialogs (not owned); nullptr restores Qt's.
    static void set(Dialogs* dialogs);
};

// The dialogs of Qt. Chosen paths come back with native separators.
class QtDialogs : public Dialogs {
public:
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
};

// "QVRfile(*.qvr)|*.qvr|Zip files(*.zip)|*.zip" to Qt's "QVRfile(*.qvr);;Zip files(*.zip)".
QString ToQtFilter(const QString& filter);

} // namespace shared_windows
