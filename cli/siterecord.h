#pragma once

#include "cli/output.h"
#include "cli/session.h"
#include "cli/site.h"
#include "device/settingsblock.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

// Where a run keeps its record: the site named with --site (or $TARVIK2_SITE), and who runs it
// (--operator, else the login name).
struct SiteContext {
    Site site;
    QString operatorName;
};

// One port's record of one operation in a site: the backup before a change, and the journal
// record once the operation has ended. Without a site every call does nothing, so the
// commands run the same with and without one.
class SiteRecord {
public:
    SiteRecord(const SiteContext *context, Session &session, const QString &operation);

    // The unit as its confirmed block shows it: device type, software version, address, zone.
    void unit(const SettingsBlock::Block &block);
    // Before a change is sent: the unit's confirmed block saved under backups/. False, said on
    // the output, when it could not be saved; nothing may be sent then.
    bool backUp(const SettingsBlock::Block &block, const Output &out);
    // Every difference between what the unit held and what was sent, before -> after.
    void changes(const SettingsBlock::Block &before, const SettingsBlock::Block &after);
    // The unit's confirmed settings once the operation has ended, as the report shows them.
    void settings(const SettingsBlock::Block &block);
    // "verified", "differs", "not verified", "no read-back".
    void verify(const QString &result);
    void set(const QString &key, const QJsonValue &value);
    // Appends the record with the operation's exit status. Returns that status, or BadInput
    // when the journal could not take the record (said on the output).
    int finish(int status, const Output &out);

private:
    const SiteContext *m_context;
    QString m_port; // the port as given, for the backup's settings file
    QJsonObject m_record;
};
