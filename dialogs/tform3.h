#pragma once
// The player dialog: edits the path of the H.264 player or of the YUV player,
// by the role in its tag, and hands the confirmed path back to its owner.
#include "runner/prompts.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrune {

// The player dialog's tag: which of the two paths it edits.
enum class PlayerRole { None = 0, H264Player = 1, YuvPlayer = 2 };

} // namespace kestrune

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // Called by OK with the tag and the text of Edit1. It may throw: the OK
    // handler then ends through the guard and the dialog stays open.
    using PathConfirmed = std::function<void(kestrune::PlayerRole, const QString&)>;

    TForm3(kestrune::Prompts& prompts, PathConfirmed confirmed, QWidget* parent = nullptr);

    void Button1Click();   // Browse...
    void BitBtn1Click();   // OK
    void BitBtn2Click();   // Cancel

    QLabel* Label1;        // "Player Address:"
    QLineEdit* Edit1;      // the player's path
    QPushButton* Button1;  // Browse...
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel
    kestrune::PlayerRole tag = kestrune::PlayerRole::None;

    kestrune::Prompts& prompts;

protected:
    void reject() override;

private:
    PathConfirmed confirmed_;
};
