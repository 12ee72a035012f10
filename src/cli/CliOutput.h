#pragma once

#include "cli/CliCommands.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace velmaris::cli {

// Where a command writes: JSON Lines records to `out`, messages and the usage
// text to `err`.
class Output
{
public:
    Output(std::FILE *out, std::FILE *err, const char *usageText) : m_out(out), m_err(err), m_usage(usageText) {}

    void record(const QJsonObject &object)
    {
        const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
    }

    // A line on the message stream that is no failure (progress).
    void note(const QString &message)
    {
        const QByteArray text = message.toUtf8() + '\n';
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), m_err);
        std::fflush(m_err);
    }

    int fail(const QString &message)
    {
        note(message);
        return RuntimeFailure;
    }

    int usage(const QString &message = QString())
    {
        if (!message.isEmpty())
            note(message);
        std::fputs(m_usage, m_err);
        return UsageError;
    }

private:
    std::FILE *m_out;
    std::FILE *m_err;
    const char *m_usage;
};

} // namespace velmaris::cli
