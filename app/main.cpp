// The window program: the application object, then the main window (which
// creates the About and player dialogs after itself), then the event loop.
#include "main_window/qt_prompts.h"
#include "main_window/tform1.h"
#include "runner/conventions.h"

#include <QApplication>

namespace {

// Handlers run inside TForm1::guard; this only catches what escapes it, so
// an exception never unwinds through Qt frames built without exception support.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    kestrune::Prompts* prompts = nullptr;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            if (prompts) prompts->errorBox(kestrune::errorBoxText(QString::fromLocal8Bit(error.what())));
        } catch (...) {
            if (prompts) prompts->errorBox(QStringLiteral("Unknown error."));
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    Application application(argc, argv);
    kestrune::QtPrompts prompts(kestrune::applicationTitle(QCoreApplication::applicationFilePath()));
    application.prompts = &prompts;
    TForm1 Form1(prompts);
    Form1.show();
    return application.exec();
}
