#pragma once

#include <QByteArray>
#include <QString>

// The far end of a pseudo-terminal, driven by the test itself: what it writes arrives at the
// port exactly when the test says so.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    QString slavePath() const { return m_slave; }
    void write(const QByteArray &bytes);
    // Writes as much of bytes as the line takes without waiting; returns how much that was.
    qint64 offer(const QByteArray &bytes);
    QByteArray readAvailable(int waitMs = 50); // what the port sent
    void hangUp();                             // closes the master end

private:
    int m_master = -1;
    int m_keep = -1; // a slave descriptor held open so reads never see a closed line
    QString m_slave;
};
