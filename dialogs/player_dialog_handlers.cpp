// Player dialog handlers.
#include "dialogs/tform3.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

void TForm3::Button1Click()
{
    // Players on this platform have no ".exe"; the second filter lets one be chosen.
    if (const auto path = prompts.openFile(u"*.exe|*.exe|All files (*)|*"_s)) Edit1->setText(*path);
}

void TForm3::BitBtn1Click()
{
    confirmed_(tag, Edit1->text());
    hide();
}

void TForm3::BitBtn2Click()
{
    hide();
}
