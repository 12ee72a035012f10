#include "pacs/MiniPacsMatching.h"

namespace pacs::minipacs {

TextMatcher::TextMatcher(const QString &key) : m_key(key.trimmed())
{
    if (m_key.isEmpty() || m_key == QLatin1String("*"))
        return;
    if (!m_key.contains(QLatin1Char('*')) && !m_key.contains(QLatin1Char('?'))) {
        m_kind = Kind::Equal;
        return;
    }
    m_kind = Kind::Pattern;
    QString expression;
    for (const QChar c : m_key) {
        if (c == QLatin1Char('*'))
            expression += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    m_pattern = QRegularExpression(QRegularExpression::anchoredPattern(expression),
                                   QRegularExpression::CaseInsensitiveOption
                                       | QRegularExpression::DotMatchesEverythingOption);
    m_pattern.optimize();
}

bool TextMatcher::matches(const QString &value) const
{
    switch (m_kind) {
    case Kind::Any:
        return true;
    case Kind::Equal:
        return value.trimmed().compare(m_key, Qt::CaseInsensitive) == 0;
    case Kind::Pattern:
        return m_pattern.match(value.trimmed()).hasMatch();
    }
    return false;
}

QStringList splitValues(const QString &key)
{
    QStringList values;
    for (const QString &part : key.split(QLatin1Char('\\'))) {
        const QString value = part.trimmed();
        if (!value.isEmpty() && !values.contains(value))
            values.append(value);
    }
    return values;
}

UidMatcher::UidMatcher(const QString &key) : m_uids(splitValues(key)) {}

bool UidMatcher::matches(const QString &value) const
{
    return m_uids.isEmpty() || m_uids.contains(value);
}

DateMatcher::DateMatcher(const QString &key)
{
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty())
        return;
    m_any = false;
    const qsizetype hyphen = trimmed.indexOf(QLatin1Char('-'));
    if (hyphen < 0) {
        m_from = trimmed;
        return;
    }
    m_range = true;
    m_from = trimmed.left(hyphen).trimmed();
    m_to = trimmed.mid(hyphen + 1).trimmed();
}

bool DateMatcher::matches(const QString &value) const
{
    if (m_any)
        return true;
    if (!m_range)
        return value == m_from;
    if (value.isEmpty())
        return true;
    return (m_from.isEmpty() || value >= m_from) && (m_to.isEmpty() || value <= m_to);
}

ModalitiesMatcher::ModalitiesMatcher(const QString &key) : m_codes(splitValues(key)) {}

bool ModalitiesMatcher::matches(const QString &studyModalities) const
{
    if (m_codes.isEmpty())
        return true;
    const QStringList present = studyModalities.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &code : m_codes) {
        for (const QString &modality : present) {
            if (modality.trimmed().compare(code, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

} // namespace pacs::minipacs
