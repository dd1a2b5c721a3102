#pragma once
// Test double for the prompts interface: records every box and answers file
// dialogs and Yes/No questions from scripted queues (cancel / No when empty).
#include "runner/prompts.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

namespace kestrune::testing {

class RecordingPrompts : public Prompts {
public:
    struct Event {
        enum Kind { Message, ErrorBox, Question, OpenDialog, SaveDialog, FolderDialog } kind;
        QString text;     // message text, question text or dialog filter
        QString caption;  // question caption
    };

    void message(const QString& text) override { events.push_back({Event::Message, text, {}}); }
    void errorBox(const QString& text) override { events.push_back({Event::ErrorBox, text, {}}); }
    bool askYesNoWarning(const QString& caption, const QString& text) override
    {
        events.push_back({Event::Question, text, caption});
        if (answers.empty()) return false;
        bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    std::optional<QString> openFile(const QString& filter) override { return nextFile(Event::OpenDialog, filter); }
    std::optional<QString> saveFile(const QString& filter) override { return nextFile(Event::SaveDialog, filter); }
    std::optional<QString> chooseFolder() override { return nextFile(Event::FolderDialog, {}); }

    // Texts of the plain messages, in order.
    QStringList messages() const { return textsOf(Event::Message); }
    QStringList errors() const { return textsOf(Event::ErrorBox); }
    void clear() { events.clear(); }

    std::deque<bool> answers;                    // Yes/No answers, in order
    std::deque<std::optional<QString>> files;    // dialog results, in order
    std::vector<Event> events;

private:
    std::optional<QString> nextFile(Event::Kind kind, const QString& filter)
    {
        events.push_back({kind, filter, {}});
        if (files.empty()) return std::nullopt;
        const bool confirmed = files.front().has_value();
        const QString path = files.front().value_or(QString());
        files.pop_front();
        if (!confirmed) return std::nullopt;
        return path;
    }
    QStringList textsOf(Event::Kind kind) const
    {
        QStringList texts;
        for (const Event& e : events)
            if (e.kind == kind) texts << e.text;
        return texts;
    }
};

} // namespace kestrune::testing
