#pragma once

#include <QString>

// Lines to standard output (results) and standard error (progress and errors). Whole lines
// are written under one lock, so the lines of parallel ports never mix; with several ports
// each line starts with the port's name as given.
class Output {
public:
    explicit Output(QString prefix = {}) : m_prefix(std::move(prefix)) {}

    // False once standard output has failed; the first failure is said on standard error.
    bool result(const QString &line) const;
    void note(const QString &line) const;
    // A line that the next progress() or note() overwrites when standard error is a terminal.
    void progress(const QString &line) const;
    void endProgress() const;

    static bool errorIsTerminal();

    // At the start, before anything is opened: a standard stream that is closed gets /dev/null
    // in its place, so that no file the tool opens (a serial port least of all) takes its
    // number. Results written to a standard output that was closed fail all the same.
    static void holdStandardStreams();
    // At the end: flushes and closes standard output; false (after saying why) when any
    // result did not reach it.
    static bool closeResults();

private:
    QString m_prefix;
};

// Says why on standard error, after the tool's name, and gives the status of bad input: for
// what the tool refuses before anything is sent.
int refuse(const QString &why);
