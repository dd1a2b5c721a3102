// Player dialog handlers and the players.cnf file.
#include "dialogs/tform3.h"
#include "runner/players_config.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>

using namespace Qt::StringLiterals;

void TForm3::Button1Click()
{
    // Players on this platform have no ".exe"; the second filter lets one be chosen.
    if (const auto path = prompts.openFile(u"*.exe|*.exe|All files (*)|*"_s)) Edit1->setText(*path);
}

void TForm3::BitBtn1Click()
{
    QDir::setCurrent(state.startDirectory);
    if (tag == 1) state.h264PlayerPath = Edit1->text();
    if (tag == 2) state.yuvPlayerPath = Edit1->text();
    // A write failure ends here, through the guard: the dialog stays open.
    kestrune::writePlayersConfig(QString::fromUtf16(kestrune::kPlayersConfigFile),
                                 {state.h264PlayerPath, state.yuvPlayerPath});
    hide();
}

void TForm3::BitBtn2Click()
{
    hide();
}

namespace kestrune {

void loadPlayers(WorkbenchState& state)
{
    const QString file = QString::fromUtf16(kPlayersConfigFile);
    if (!QFile::exists(file)) return;
    const PlayerPaths paths = readPlayersConfig(file);
    state.h264PlayerPath = paths.h264Player;
    state.yuvPlayerPath = paths.yuvPlayer;
}

} // namespace kestrune
