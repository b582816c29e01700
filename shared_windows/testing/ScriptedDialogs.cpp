#include "ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <iterator>
#include <memory>
#include <utility>

namespace shared_windows {

ScriptedDialogs::ScriptedDialogs() {
    Dialogs::set(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    Dialogs::set(nullptr);
}

QStringList ScriptedDialogs::Messages() const {
    QStringList out;
    for (const Call& c : Calls) {
        if (c.kind == Kind::Message)
            out << c.text;
    }
    return out;
}

int ScriptedDialogs::CountOf(Kind kind) const {
    int n = 0;
    for (const Call& c : Calls)
        n += c.kind == kind ? 1 : 0;
    return n;
}

namespace {
template <typename T> T Take(std::deque<T>& answers, int& unanswered, T fallback) {
    if (answers.empty()) {
        ++unanswered;
        return fallback;
    }
    std::deque<T> rest(std::next(answers.begin()), answers.end());
    std::swap(rest, answers);
    return std::move(rest.front());
}
} // namespace

std::optional<QString> ScriptedDialogs::OpenFile(QWidget*, const QString& title,
                                                 const QString& filter, const QString& fileName) {
    Calls.push_back({Kind::OpenFile, title, QString(), filter, fileName});
    return Take<std::optional<QString>>(OpenFileAnswers, Unanswered, std::nullopt);
}

std::optional<QStringList> ScriptedDialogs::OpenFiles(QWidget*, const QString& title,
                                                      const QString& filter) {
    Calls.push_back({Kind::OpenFiles, title, QString(), filter, QString()});
    return Take<std::optional<QStringList>>(OpenFilesAnswers, Unanswered, std::nullopt);
}

std::optional<QString> ScriptedDialogs::SaveFile(QWidget*, const QString& title,
                                                 const QString& filter, const QString& fileName) {
    Calls.push_back({Kind::SaveFile, title, QString(), filter, fileName});
    return Take<std::optional<QString>>(SaveFileAnswers, Unanswered, std::nullopt);
}

std::optional<QString> ScriptedDialogs::ChooseFolder(QWidget*, const QString& title,
                                                     const QString& start) {
    Calls.push_back({Kind::ChooseFolder, title, QString(), QString(), start});
    return Take<std::optional<QString>>(FolderAnswers, Unanswered, std::nullopt);
}

void ScriptedDialogs::Message(QWidget*, const QString& title, const QString& text) {
    Calls.push_back({Kind::Message, title, text, QString(), QString()});
    if (OnMessage)
        OnMessage(text);
}

bool ScriptedDialogs::AskYesNo(QWidget*, const QString& title, const QString& text,
                               Default byDefault) {
    Calls.push_back(
        {Kind::AskYesNo, title, text, QString(), QString(), {}, byDefault == Default::No});
    return Take<bool>(YesNoAnswers, Unanswered, false);
}

void ScriptedDialogs::Summary(QWidget*, const QString& title, const QString& text,
                              const QStringList& items) {
    Calls.push_back({Kind::Summary, title, text, QString(), QString(), items});
    if (OnMessage)
        OnMessage(text);
}

std::vector<const ScriptedDialogs::Call*> ScriptedDialogs::Summaries() const {
    std::vector<const Call*> out;
    for (const Call& c : Calls) {
        if (c.kind == Kind::Summary)
            out.push_back(&c);
    }
    return out;
}

void WhenModalShown(std::function<void(QWidget*)> action, int timeoutMs) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, action, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace shared_windows
