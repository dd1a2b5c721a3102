// Player settings menu items and playback.
#include "main_window/tform1.h"

#include "dialogs/tform3.h"
#include "main_window/source_box.h"
#include "runner/file_checks.h"
#include "runner/launch.h"
#include "runner/players_config.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>

using namespace Qt::StringLiterals;

void TForm1::H264VideoPlayer1Click()
{
    Form3->Edit1->setText(state.h264PlayerPath);
    Form3->tag = kestrune::PlayerRole::H264Player;
    Form3->setWindowTitle(u"Select H.264 Video player..."_s);
    Form3->show();
    Form3->raise();
}

void TForm1::YUVSequencePlayer1Click()
{
    Form3->Edit1->setText(state.yuvPlayerPath);
    Form3->setWindowTitle(u"Select YUV sequence player..."_s);
    Form3->tag = kestrune::PlayerRole::YuvPlayer;
    Form3->show();
    Form3->raise();
}

void TForm1::storePlayerPath(kestrune::PlayerRole role, const QString& path)
{
    QDir::setCurrent(state.startDirectory);
    if (role == kestrune::PlayerRole::H264Player) state.h264PlayerPath = path;
    if (role == kestrune::PlayerRole::YuvPlayer) state.yuvPlayerPath = path;
    // A write failure throws into the dialog's OK handler: the dialog stays open.
    kestrune::writePlayersConfig(QString::fromUtf16(kestrune::kPlayersConfigFile),
                                 {state.h264PlayerPath, state.yuvPlayerPath});
}

void TForm1::Button7Click()
{
    if (!kestrune::fileExists(state.h264PlayerPath))
        return prompts.message(
            u"Error! Please specify an available H.264 video player from menu \"Options->H.264 Video Player\""_s);
    // Each case looks at the source box as it is then: it may change while a player is open.
    // Typed text over the box names no source, as for the map's popup commands.
    if (kestrune::chosenSource(ComboBox2) == 0) {
        if (kestrune::fileExists(LabeledEdit2->text())) Play(state.h264PlayerPath, LabeledEdit2->text());
        else prompts.message(u"Error! There is no encoder output to display!"_s);
    }
    if (kestrune::chosenSource(ComboBox2) == 1) {
        if (kestrune::fileExists(LabeledEdit6->text())) Play(state.h264PlayerPath, LabeledEdit6->text());
        else prompts.message(u"Error! There is no channel output to display!"_s);
    }
    if (kestrune::chosenSource(ComboBox2) == -1) prompts.message(u"Error! There is no input file to display!"_s);
}

void TForm1::Button8Click()
{
    if (!kestrune::fileExists(state.yuvPlayerPath))
        return prompts.message(
            u"Error! Please specify an available YUV player from menu \"Options->YUV Sequence Player\""_s);
    if (kestrune::fileExists(LabeledEdit4->text())) Play(state.yuvPlayerPath, LabeledEdit4->text());
    else prompts.message(u"Error: There is no YUV file to display!"_s);
}

void TForm1::Play(const QString& program, const QString& file)
{
    // Started directly, so a path with blanks stays one argument.
    const auto run = kestrune::launchAndWait(program, {file});
    if (!run.launched) prompts.message(u"Error in running "_s + program);
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
