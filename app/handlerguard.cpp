#include "app/handlerguard.h"

#include "app/apperror.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <exception>

namespace HandlerGuard {

void run(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const AppError &e) {
        showError(e.message());
    } catch (const std::exception &) {
        showError(QString()); // not one of ours: the box shows an empty message
    }
}

QString caption()
{
    const QString file = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return file.section(QLatin1Char('.'), 0, 0);
}

QString boxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, caption(), boxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace HandlerGuard
