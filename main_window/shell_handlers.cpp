// Start-up, shut-down, the log's Clear button and the three runner methods.
#include "main_window/tform1.h"

#include "dialogs/tform2.h"
#include "dialogs/tform3.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

using namespace Qt::StringLiterals;

void TForm1::FormCreate()
{
    state.startDirectory = QDir::currentPath();
    if (QFile::exists(u"players.cnf"_s)) kestrune::loadPlayers(state);
}

void TForm1::FormClose()
{
    QDir::setCurrent(state.startDirectory);
    // Named by full path: should the start directory be gone, files of the
    // same names in whatever directory is current are not the workbench's.
    const QDir start(state.startDirectory);
    for (const QString& name : {u"general.txt"_s, u"fbatch.bat"_s, u"xbatch.bat"_s, u"debug.txt"_s,
                                u"analyze.bat"_s, u"analyze.txt"_s, u"gilout.txt"_s, u"gil.bat"_s,
                                u"gilbert.txt"_s})
        QFile::remove(start.filePath(name));
}

void TForm1::Exit1Click()
{
    // Ends every event loop, nested waits included, without closing the
    // window, so the close-time cleanup does not run.
    QCoreApplication::exit(0);
}

void TForm1::About2Click()
{
    Form2->show();
    Form2->raise();
}

void TForm1::BitBtn1Click()
{
    Memo1->clear();
}

kestrune::RunOutcome TForm1::runTool(const kestrune::ToolRun& run)
{
    return kestrune::ToolRunner(prompts, logSink()).run(run);
}

void TForm1::XbatchRun()
{
    runTool({u"xbatch.bat"_s, u"xbatch.txt"_s, u"Error in running xbatch.bat"_s,
             u"Error in Encoding: xbatch.txt not found!"_s});
}

void TForm1::FbatchRun()
{
    if (runTool({u"fbatch.bat"_s, u"fbatch.txt"_s, u"Error in running fbatch.bat"_s,
                 u"Error in Decoding: fbatch.txt not found!"_s})
        == kestrune::RunOutcome::Captured)
        moveDecodedOutput();
}

void TForm1::GilbertRun()
{
    if (runTool({u"gil.bat"_s, u"gilout.txt"_s, u"Error in running gil.bat"_s,
                 u"Error in Encoding: gilout.txt not found!"_s})
        == kestrune::RunOutcome::Captured)
        AnalyzeRun();
}
