// Playing the analyzer's source and the decoded file through the real window.
#include "main_window/tform1.h"
#include "tests/main_window/window_fixture.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune::testing;

namespace {

const QString kH264Hint =
    u"Error! Please specify an available H.264 video player from menu \"Options->H.264 Video Player\""_s;
const QString kYuvHint = u"Error! Please specify an available YUV player from menu \"Options->YUV Sequence Player\""_s;

class Playback : public WindowInStartDirectory {
protected:
    void SetUp() override
    {
        WindowInStartDirectory::SetUp();
        writeScript(start, u"player"_s, logArguments(QFile::encodeName(at(u"played.log"_s))));
    }
    QList<QStringList> played() const { return loggedRuns(at(u"played.log"_s)); }
};

} // namespace

TEST_F(Playback, WithoutStreamPlayerTheMenuHintComesFirstWhateverTheSource)
{
    ui(form).ComboBox2->setCurrentIndex(-1);
    ui(form).Button7->click();
    ui(form).state.h264PlayerPath = at(u"no player"_s);
    ui(form).Button7->click();
    EXPECT_EQ(prompts.messages(), (QStringList{kH264Hint, kH264Hint}));
}

TEST_F(Playback, EachSourceCaseNamesWhatIsMissing)
{
    ui(form).state.h264PlayerPath = at(u"player"_s);
    ui(form).ComboBox2->blockSignals(true); // no analyzer here: only the index matters
    ui(form).ComboBox2->setCurrentIndex(-1);
    ui(form).Button7->click();
    ui(form).ComboBox2->setCurrentIndex(0);
    ui(form).Button7->click();
    ui(form).ComboBox2->setCurrentIndex(1);
    ui(form).Button7->click();
    EXPECT_EQ(prompts.messages(), (QStringList{u"Error! There is no input file to display!"_s,
                                        u"Error! There is no encoder output to display!"_s,
                                        u"Error! There is no channel output to display!"_s}));
    EXPECT_TRUE(played().isEmpty());
}

TEST_F(Playback, TypedTextOverTheSourceBoxIsNoSource)
{
    ui(form).state.h264PlayerPath = at(u"player"_s);
    writeFile(at(u"encoded.264"_s), "s");
    ui(form).LabeledEdit2->setText(u"encoded.264"_s);
    ui(form).ComboBox2->blockSignals(true); // no analyzer here: only the box matters
    ui(form).ComboBox2->setCurrentIndex(0);
    ui(form).ComboBox2->setEditText(u"my stream"_s);
    ui(form).Button7->click();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error! There is no input file to display!"_s});
    EXPECT_TRUE(played().isEmpty());
}

TEST_F(Playback, PlaysTheChosenStreamWithItsPathAsOneArgument)
{
    ui(form).state.h264PlayerPath = at(u"player"_s);
    writeFile(at(u"my encoded.264"_s), "s");
    writeFile(at(u"lossy.264"_s), "s");
    ui(form).LabeledEdit2->setText(at(u"my encoded.264"_s));
    ui(form).LabeledEdit6->setText(u"lossy.264"_s);
    ui(form).ComboBox2->blockSignals(true); // no analyzer here: only the index matters
    ui(form).ComboBox2->setCurrentIndex(0);
    ui(form).Button7->click();
    ui(form).ComboBox2->setCurrentIndex(1);
    ui(form).Button7->click();
    EXPECT_EQ(played(), (QList<QStringList>{{at(u"my encoded.264"_s)}, {u"lossy.264"_s}}));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
}

TEST_F(Playback, YuvButtonChecksPlayerThenFileThenPlays)
{
    ui(form).LabeledEdit4->setText(u"out 176x144.yuv"_s);
    ui(form).Button8->click();
    ui(form).state.yuvPlayerPath = at(u"player"_s);
    ui(form).Button8->click();
    writeFile(at(u"out 176x144.yuv"_s), "frames");
    ui(form).Button8->click();
    EXPECT_EQ(prompts.messages(), (QStringList{kYuvHint, u"Error: There is no YUV file to display!"_s}));
    EXPECT_EQ(played(), QList<QStringList>{{u"out 176x144.yuv"_s}});
}

TEST_F(Playback, PlayerThatCannotBeStartedIsReportedWithItsPath)
{
    const QString notProgram = at(u"not a program"_s);
    writeFile(notProgram, "plain text, not executable");
    writeFile(at(u"out.yuv"_s), "frames");
    ui(form).state.yuvPlayerPath = notProgram;
    ui(form).LabeledEdit4->setText(u"out.yuv"_s);
    ui(form).Button8->click();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error in running "_s + notProgram});
}

TEST_F(Playback, WindowKeepsWorkingWhilePlayerRunsAndHandlerReturnsWhenItExits)
{
    // The player waits (at most about 20 s) for a file that a handler run
    // during the wait creates, and marks its end.
    const QByteArray go = QFile::encodeName(at(u"go"_s));
    writeScript(start, u"slow player"_s,
                "i=0; while [ ! -f \"" + go + "\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                "echo ended > \"" + go + ".ended\"\n");
    writeFile(at(u"out.yuv"_s), "frames");
    ui(form).state.yuvPlayerPath = at(u"slow player"_s);
    ui(form).LabeledEdit4->setText(u"out.yuv"_s);
    bool clearedDuringPlay = false;
    QObject::connect(ui(form).BitBtn1, &QPushButton::clicked, [&] {
        clearedDuringPlay = true;
        writeFile(at(u"go"_s), "");
    });
    QTimer::singleShot(50, form.get(), [&] { ui(form).BitBtn1->click(); });
    ui(form).Button8->click();
    EXPECT_TRUE(clearedDuringPlay);
    EXPECT_TRUE(QFile::exists(at(u"go.ended"_s))) << "the handler returned before the player ended";
    EXPECT_TRUE(prompts.messages().isEmpty());
}
