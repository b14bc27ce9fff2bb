#pragma once

#include "upload/soundupload.h"

#include <QString>
#include <functional>

// The activity log's lines for the steps of an upload.
SoundUpload::View uploadView(std::function<void(const QString &)> log,
                             std::function<void(int)> setProgress);

// Why a file's header was refused, in the log's words.
QString wavProblemText(WavHeader::Problem problem);
