#include "app/BridgeRequestParser.h"

#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <limits>

namespace velmaris {

namespace {

constexpr QByteArrayView kHeaderTerminator = "\r\n\r\n";

// Negative or non-numeric values count as no body. A run of digits too long
// for 64 bits is still a (huge) length, so it must not slip through as 0.
qint64 declaredBodyLength(const QByteArray &value)
{
    bool ok = false;
    const qlonglong length = value.toLongLong(&ok);
    if (ok)
        return std::max<qlonglong>(length, 0);
    const bool allDigits = !value.isEmpty()
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    return allDigits ? std::numeric_limits<qint64>::max() : 0;
}

BridgeParseResult needMore(qint64 bytes)
{
    BridgeParseResult result;
    result.outcome = BridgeParseResult::Outcome::NeedMore;
    result.bytesWanted = bytes;
    return result;
}

BridgeParseResult refuse(int status, const QByteArray &reason)
{
    BridgeParseResult result;
    result.outcome = BridgeParseResult::Outcome::Refuse;
    result.status = status;
    result.reason = reason;
    return result;
}

BridgeParseResult drop()
{
    BridgeParseResult result;
    result.outcome = BridgeParseResult::Outcome::Drop;
    return result;
}

} // namespace

BridgeParseResult parseBridgeRequest(const QByteArray &received)
{
    // Only the first kBridgeMaxHeaderBytes can hold the header block, so a
    // longer input costs no more to look at than one at the cap.
    const QByteArrayView head = QByteArrayView(received).first(std::min(received.size(), kBridgeMaxHeaderBytes));
    const qsizetype end = head.indexOf(kHeaderTerminator);

    // Every line of the header block must end in CR LF. One that ends in a
    // bare LF is refused as soon as it arrives: its sender would otherwise
    // wait in silence for a block end that may never come.
    const qsizetype headerBytes = end < 0 ? head.size() : end + kHeaderTerminator.size();
    for (qsizetype lf = head.indexOf('\n'); lf >= 0 && lf < headerBytes; lf = head.indexOf('\n', lf + 1)) {
        if (lf == 0 || head.at(lf - 1) != '\r')
            return refuse(400, QByteArrayLiteral("malformed line ending"));
    }

    if (end < 0) {
        if (received.size() >= kBridgeMaxHeaderBytes)
            return refuse(413, QByteArrayLiteral("payload too large"));
        return needMore(kBridgeMaxHeaderBytes - received.size());
    }

    const QList<QByteArray> lines = received.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().simplified().split(' ');
    if (requestLine.size() < 2)
        return drop();

    BridgeRequest request;
    request.method = requestLine.at(0);
    request.path = requestLine.at(1);
    QByteArray contentLength;
    bool hasContentLength = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        // Taking the first or the last of two would let a request be framed,
        // or its origin judged, differently from what the sender meant: an
        // allowed Origin after a foreign one must not pass.
        if (name == "content-length") {
            if (hasContentLength)
                return refuse(400, QByteArrayLiteral("duplicate content-length"));
            hasContentLength = true;
            contentLength = value;
        } else if (name == "origin") {
            if (request.hasOrigin)
                return refuse(400, QByteArrayLiteral("duplicate origin"));
            request.origin = value;
            request.hasOrigin = true;
        }
    }

    const qint64 bodyLength = declaredBodyLength(contentLength);
    // Refused up front; waiting for (or buffering) such a body would defeat
    // the point of the cap.
    if (bodyLength > kBridgeMaxBodyBytes)
        return refuse(413, QByteArrayLiteral("payload too large"));

    const qint64 bodyStart = end + kHeaderTerminator.size();
    const qint64 needed = bodyStart + bodyLength;
    if (received.size() < needed)
        return needMore(needed - received.size());

    BridgeParseResult result;
    result.outcome = BridgeParseResult::Outcome::Complete;
    request.body = received.mid(bodyStart, bodyLength);
    result.request = std::move(request);
    return result;
}

} // namespace velmaris
