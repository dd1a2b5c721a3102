#pragma once
// Conventions the whole window follows: the integer check of numeric fields,
// the failed-conversion error, the text of the central error box and the
// application title.
#include <QString>

namespace kestrune {

// IsInteger and StrToInt keep the names the window's design gives them (the
// encoder and channel checks refer to them by name), which is why they are
// the only PascalCase functions here.

// True when the text is an integer in the window's syntax: optional leading
// spaces, optional sign, decimal (-2147483648..2147483647) or 1 to 8
// significant hex digits after "$", "x", "X", "0x", "0X"; nothing after.
bool IsInteger(const QString& text);

// The value of an integer text; throws UserError("'%s' is not a valid
// integer value") otherwise.
int StrToInt(const QString& text);

// The central error box's text: a full stop is added when the last
// character sorts after ".", so texts ending in ")" or "!" get none.
QString errorBoxText(const QString& text);

// The executable's file name without directory, cut at its first ".", the
// first character kept and the rest in lower case.
QString applicationTitle(const QString& executablePath);

} // namespace kestrune
