#include "app/apperror.h"
#include "app/handlerguard.h"
#include "app/tform1.h"

#include <QApplication>
#include <QIcon>
#include <exception>

int main(int argc, char *argv[])
{
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
