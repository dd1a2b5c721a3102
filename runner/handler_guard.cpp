#include "runner/handler_guard.h"

#include "runner/conventions.h"
#include "runner/user_error.h"

using namespace Qt::StringLiterals;

namespace kestrune {

void runGuarded(Prompts& prompts, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const UserError& error) {
        prompts.errorBox(errorBoxText(error.text()));
    } catch (const std::exception& error) {
        prompts.errorBox(errorBoxText(QString::fromLocal8Bit(error.what())));
    } catch (...) {
        prompts.errorBox(u"Unknown error."_s);
    }
}

} // namespace kestrune
