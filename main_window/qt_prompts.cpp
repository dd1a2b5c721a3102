#include "main_window/qt_prompts.h"

#include <QCoreApplication>
#include <QEventLoop>
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

// Shows the box and waits for its answer in a loop of our own rather than
// QDialog::exec(): once the application has been asked to quit, exec()
// returns at once, unanswered, and an error met on the way out (a capture
// file still being written) would never be seen.
QMessageBox::StandardButton answerOf(QMessageBox& box)
{
    bool answered = false;
    QObject::connect(&box, &QDialog::finished, &box, [&answered] { answered = true; });
    box.show();
    while (!answered) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return box.standardButton(box.clickedButton());
}

// Unparented boxes are centred on the screen.
void showBox(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    answerOf(box);
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
    // No owner and not modal: the main window stays usable while the question is open.
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No);
    box.setWindowModality(Qt::NonModal);
    return answerOf(box) == QMessageBox::Yes;
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

std::optional<QString> QtPrompts::chooseFolder()
{
    const QString path = QFileDialog::getExistingDirectory(nullptr);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

} // namespace kestrune
