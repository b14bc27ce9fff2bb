#pragma once

#include <QString>

// Lines to standard output (results) and standard error (progress and errors). Whole lines
// are written under one lock, so the lines of parallel ports never mix; with several ports
// each line starts with the port's name as given.
class Output {
public:
    explicit Output(QString prefix = {}) : m_prefix(std::move(prefix)) {}

    void result(const QString &line) const;
    void note(const QString &line) const;
    // A line that the next progress() or note() overwrites when standard error is a terminal.
    void progress(const QString &line) const;
    void endProgress() const;

    static bool errorIsTerminal();

private:
    QString m_prefix;
};
