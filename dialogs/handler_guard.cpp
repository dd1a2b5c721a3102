#include "dialogs/handler_guard.h"

#include "runner/user_error.h"

using namespace Qt::StringLiterals;

namespace kestrune {

namespace {

// The error box ends a text with a full stop unless its last character sorts
// at or before "." (so ")" and "!" get none).
QString withFullStop(const QString& text)
{
    if (!text.isEmpty() && text.back() > u'.') return text + u'.';
    return text;
}

} // namespace

void runGuarded(Prompts& prompts, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const UserError& error) {
        prompts.errorBox(withFullStop(error.text()));
    } catch (const std::exception& error) {
        prompts.errorBox(withFullStop(QString::fromLocal8Bit(error.what())));
    } catch (...) {
        prompts.errorBox(u"Unknown error."_s);
    }
}

} // namespace kestrune
