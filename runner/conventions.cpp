#include "runner/conventions.h"

#include "runner/user_error.h"
#include "tools/common/integer_syntax.h"

#include <QFileInfo>
#include <optional>
#include <string_view>

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

std::optional<std::int32_t> integerValue(const QString& text)
{
    // Non-ASCII characters become bytes above 0x7F, which the syntax rejects.
    const QByteArray bytes = text.toUtf8();
    return parseInteger(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace

bool IsInteger(const QString& text)
{
    return integerValue(text).has_value();
}

int StrToInt(const QString& text)
{
    if (auto value = integerValue(text)) return *value;
    throw UserError(u"'%1' is not a valid integer value"_s.arg(text));
}

QString errorBoxText(const QString& text)
{
    if (!text.isEmpty() && text.back() > u'.') return text + u'.';
    return text;
}

QString applicationTitle(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    if (qsizetype dot = name.indexOf(u'.'); dot >= 0) name.truncate(dot);
    if (name.isEmpty()) return name;
    return name.left(1) + name.mid(1).toLower();
}

} // namespace kestrune
