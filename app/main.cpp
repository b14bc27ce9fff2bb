#include "app/apperror.h"
#include "app/handlerguard.h"
#include "app/tform1.h"

#include <QApplication>
#include <QIcon>
#include <exception>

#ifdef Q_OS_UNIX
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <strings.h>
#endif

namespace {

#ifdef Q_OS_UNIX
bool codesetIsUtf8()
{
    const char *codeset = nl_langinfo(CODESET);
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0;
}

// QApplication takes the locale from the environment (setlocale(LC_ALL, "")), and Xlib encodes
// the window's WM_NAME in that locale's codeset (_NET_WM_NAME is UTF-8 always). With no locale
// set (the POSIX locale of a fresh machine or container), or with one that is not installed,
// the codeset is ASCII: the caption's UTF-8 bytes then go into WM_NAME typed as Latin-1
// STRING, which tools reading WM_NAME show garbled. Such a process runs in C.UTF-8 instead,
// set in the environment because that is where QApplication reads it. Nothing the program
// shows depends on the locale's other categories (numbers, dates, messages), so only the
// codeset changes for the user.
void runInUtf8Locale()
{
    if (std::setlocale(LC_ALL, "") != nullptr && codesetIsUtf8())
        return;
    ::setenv("LC_ALL", "C.UTF-8", 1);
    if (std::setlocale(LC_ALL, "") == nullptr || !codesetIsUtf8())
        std::fputs("TARVIK2: this system has no C.UTF-8 locale; programs that read the window's "
                   "WM_NAME may show its title garbled\n",
                   stderr);
}
#endif

// Where the desktop offers X (XWayland included), the window runs there: on X the frame has the
// title alone and the placement holds, where a Wayland compositor would place the window itself
// and Qt would draw a title bar with buttons the window must not have. A session without X
// still runs natively on Wayland, and a platform the user names is left alone.
void preferX()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    runInUtf8Locale();
#endif
    preferX();
    // The window scales as one picture by the screen's factor as it stands (1.25, 1.5, ...),
    // from the desktop or from QT_SCALE_FACTOR / QT_SCREEN_SCALE_FACTORS.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/program.png")));
    try {
        TForm1 form;
        form.show();
        QApplication::exec();
    } catch (const AppError &e) {
        HandlerGuard::showError(e.message());
    } catch (const std::exception &) {
        HandlerGuard::showError(QString());
    }
    return 0;
}
