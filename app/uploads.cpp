// Uploading the two alert messages and the siren.

#include "app/tform1.h"
#include "upload/soundupload.h"

namespace {
SoundUpload::View progressView(TForm1 *form, const std::function<void(const QString &)> &log)
{
    QProgressBar *bar = form->ProgressBar1;
    return {log, [bar](int value) { bar->setValue(value); }, [bar] { return bar->value(); }};
}
} // namespace

void TForm1::Button6Click()
{
    if (!m_connected)
        return;
    SoundUpload(m_channel, m_clock, progressView(this, [this](const QString &l) { log(l); }))
        .uploadMessages();
}

void TForm1::Button8Click()
{
    if (!m_connected)
        return;
    SoundUpload(m_channel, m_clock, progressView(this, [this](const QString &l) { log(l); }))
        .uploadSiren();
}
