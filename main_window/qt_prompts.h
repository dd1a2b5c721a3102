#pragma once
// The real message boxes and file dialogs behind kestrune::Prompts.
#include "runner/prompts.h"

#include <QString>

namespace kestrune {

// "YUV File (*.yuv)|*.yuv" (description|pattern pairs) -> "YUV File (*.yuv)",
// the form Qt's file dialogs take; pairs are joined with ";;".
QString toQtFileFilter(const QString& filter);

class QtPrompts : public Prompts {
public:
    // caption: the application title shown on every box.
    explicit QtPrompts(QString caption) : caption_(std::move(caption)) {}

    void message(const QString& text) override;
    void errorBox(const QString& text) override;
    bool askYesNoWarning(const QString& caption, const QString& text) override;
    std::optional<QString> openFile(const QString& filter) override;
    std::optional<QString> saveFile(const QString& filter) override;
    std::optional<QString> chooseFolder() override;

private:
    QString caption_;
};

} // namespace kestrune
