#pragma once

#include <QString>
#include <functional>

// The boundary around every event handler. An error raised inside is caught here, shown in
// the standard error box, and the rest of the handler is skipped; the program carries on.
namespace HandlerGuard {

void run(const std::function<void()> &handler);

// The caption of the standard error box: the program file's name up to its first dot.
QString caption();
// The text of the standard error box: the message, with a full stop added when its last
// character sorts after "." in character code.
QString boxText(const QString &message);
void showError(const QString &message);

} // namespace HandlerGuard
