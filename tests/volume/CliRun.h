#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

namespace velmaris::testing {

// One norvane-cli call: its exit code, its first JSON record and what it said
// on standard error. exitCode stays -1 when the program did not finish.
struct CliRun
{
    int exitCode = -1;
    QJsonObject record;
    QByteArray err;
};

inline CliRun runCli(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    CliRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.record = QJsonDocument::fromJson(process.readAllStandardOutput().split('\n').first()).object();
    run.err = process.readAllStandardError();
    return run;
}

// The record's fields named in `expected`, as compact JSON to compare with
// compact(expected) in one readable line.
inline QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QByteArray fieldsOf(const QJsonObject &record, const QJsonObject &expected)
{
    QJsonObject picked;
    for (auto it = expected.begin(); it != expected.end(); ++it)
        picked.insert(it.key(), record.value(it.key()));
    return compact(picked);
}

#ifdef NORVANE_CLI
// The same on the norvane-cli this test program was built with.
inline CliRun cli(const QStringList &arguments)
{
    return runCli(QStringLiteral(NORVANE_CLI), arguments);
}
#endif

} // namespace velmaris::testing
