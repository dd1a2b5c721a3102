#include "main_window/qt_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace kestrune {

QString toQtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        // Qt reads the patterns from the last parentheses of the description.
        if (description.endsWith(u'(' + patterns + u')'))
            filters << description;
        else
            filters << description + u" ("_s + patterns + u')';
    }
    if (parts.size() % 2 == 1 && !parts.back().isEmpty()) filters << parts.back();
    return filters.join(u";;"_s);
}

namespace {

// Unparented boxes are centred on the screen.
void showBox(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

void QtPrompts::message(const QString& text)
{
    showBox(QMessageBox::NoIcon, caption_, text);
}

void QtPrompts::errorBox(const QString& text)
{
    showBox(QMessageBox::Critical, caption_, text);
}

bool QtPrompts::askYesNoWarning(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtPrompts::openFile(const QString& filter)
{
    const QString path = QFileDialog::getOpenFileName(nullptr, QString(), QString(), toQtFileFilter(filter));
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> QtPrompts::saveFile(const QString& filter)
{
    // No default extension and no overwrite question: a tool writes the file later.
    const QString path = QFileDialog::getSaveFileName(nullptr, QString(), QString(), toQtFileFilter(filter), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

} // namespace kestrune
