#pragma once
// The player dialog: edits the path of the H.264 player (tag 1) or of the
// YUV player (tag 2).
#include "main_window/workbench_state.h"
#include "runner/prompts.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    TForm3(WorkbenchState& state, kestrune::Prompts& prompts, QWidget* parent = nullptr);

    void Button1Click();   // Browse...
    void BitBtn1Click();   // OK
    void BitBtn2Click();   // Cancel

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    int tag = 0;           // 1 = H.264 player, 2 = YUV player

    WorkbenchState& state;
    kestrune::Prompts& prompts;

protected:
    void reject() override;
};

namespace kestrune {

// Reads the two player paths from "players.cnf" in the current directory
// (line 1 H.264 player, line 2 YUV player) when the file exists.
void loadPlayers(WorkbenchState& state);

} // namespace kestrune
