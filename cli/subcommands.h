#pragma once

#include "cli/output.h"
#include "cli/session.h"
#include "cli/settingsfile.h"
#include "cli/siterecord.h"
#include "upload/soundupload.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

// The tool's commands, once their arguments have been checked. Each returns its exit status.
namespace Commands {

// site: where the run keeps its record (backups and the journal); none without one.
int info(const QList<Port> &ports, const SiteContext *site);
// outPattern: empty for standard output.
int read(const QList<Port> &ports, const QString &outPattern, const SiteContext *site);

struct WriteOptions {
    SettingsFile::Contents file;
    SettingsFile::Wanted wanted; // the file's fields with every --set laid over
    bool whole = false;
    bool force = false;
    bool dryRun = false;
    bool verify = true;
};
int write(const QList<Port> &ports, const WriteOptions &options, const SiteContext *site);

int reset(const QList<Port> &ports, const SiteContext *site);

struct UploadOptions {
    QStringList files;          // as named, for the texts
    SoundUpload::Sounds sounds; // read and checked once; every port is sent these bytes
};
int upload(const QList<Port> &ports, const UploadOptions &options, const SiteContext *site);

struct MonitorOptions {
    int intervalMs = 100;
    qint64 count = 0;      // rows to log; 0: until Ctrl+C
    QString csvPattern;    // empty for standard output
    bool reconnect = true; // a lost line waits for its adapter; false ends the log
};
int monitor(const QList<Port> &ports, const MonitorOptions &options);

// A new site folder; its journal checked.
int siteInit(const QString &dir, const QString &name, const QString &templateFile);
int siteVerify(const QString &dir);

// Each side: a settings file, or "port:NAME" for the unit on that port.
int diff(const QString &a, const QString &b);

} // namespace Commands
