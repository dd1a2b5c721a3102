#pragma once
// A run-time error carrying the text the user reads in the central error box
// (file errors, failed conversions). Thrown by logic, caught by the one guard
// around every window handler.
#include <QString>
#include <exception>

namespace kestrune {

class UserError : public std::exception {
public:
    explicit UserError(QString text) : text_(std::move(text)) {}
    const QString& text() const { return text_; }
    const char* what() const noexcept override { return "kestrune::UserError"; }

private:
    QString text_;
};

} // namespace kestrune
