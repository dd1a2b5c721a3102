#pragma once
// Every modal box and file dialog the workbench shows goes through this one
// interface, so tests can substitute scripted answers and never block.
#include <QString>
#include <optional>

namespace kestrune {

class Prompts {
public:
    virtual ~Prompts() = default;
    // Plain message: application title as caption, no icon, one OK button.
    virtual void message(const QString& text) = 0;
    // Central error box: error icon, application title; text already final
    // (the caller applies the full-stop rule).
    virtual void errorBox(const QString& text) = 0;
    // Yes/No question with the warning icon; true only for Yes.
    virtual bool askYesNoWarning(const QString& caption, const QString& text) = 0;
    // Open / save dialogs with a filter such as "YUV File (*.yuv)|*.yuv";
    // nothing when the user cancels.
    virtual std::optional<QString> openFile(const QString& filter) = 0;
    virtual std::optional<QString> saveFile(const QString& filter) = 0;
    // A folder, existing or made in the dialog; nothing when cancelled.
    virtual std::optional<QString> chooseFolder() = 0;
};

} // namespace kestrune
