#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// How the Mini-PACS compares the keys of a C-FIND with the archive's values.
// Each matcher is built once per request and then tried on every record.
namespace pacs::minipacs {

// Name, ID, accession, description, modality, series number: empty or "*"
// matches anything, a key without "*" or "?" is compared whole ignoring case,
// anything else is a wildcard pattern over the whole value, ignoring case.
class TextMatcher
{
public:
    explicit TextMatcher(const QString &key);
    bool matches(const QString &value) const;

private:
    enum class Kind { Any, Equal, Pattern };
    Kind m_kind = Kind::Any;
    QString m_key;
    QRegularExpression m_pattern;
};

// UIDs: empty matches anything, otherwise one of the backslash-separated UIDs
// exactly.
class UidMatcher
{
public:
    explicit UidMatcher(const QString &key);
    bool matches(const QString &value) const;
    bool isUniversal() const { return m_uids.isEmpty(); }
    const QStringList &uids() const { return m_uids; }

private:
    QStringList m_uids;
};

// Study dates ("yyyyMMdd" text): a range "from-to" with either side optional
// (a study without a date matches a range), or one date that must be equal.
class DateMatcher
{
public:
    explicit DateMatcher(const QString &key);
    bool matches(const QString &value) const;

private:
    bool m_any = true;
    bool m_range = false;
    QString m_from;
    QString m_to;
};

// Modalities in Study: one of the key's backslash-separated codes among the
// study's comma-separated modalities, ignoring case.
class ModalitiesMatcher
{
public:
    explicit ModalitiesMatcher(const QString &key);
    bool matches(const QString &studyModalities) const;

private:
    QStringList m_codes;
};

// Backslash-separated values of a multi-valued key, trimmed, without empty
// parts or duplicates, in their order.
QStringList splitValues(const QString &key);

} // namespace pacs::minipacs
