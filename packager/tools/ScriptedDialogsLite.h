#pragma once
// Dialogs for the command-line tools: every question answered Yes, messages printed.

#include "Dialogs.h"

#include <cstdio>

using namespace shared_windows;

class QuietDialogs : public Dialogs {
public:
    QuietDialogs() { Dialogs::set(this); }
    ~QuietDialogs() override { Dialogs::set(nullptr); }
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }
    std::optional<QStringList> OpenFiles(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }
    void Message(QWidget*, const QString&, const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool AskYesNo(QWidget*, const QString&, const QString&, Default) override { return true; }
};
