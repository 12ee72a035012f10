#pragma once

#include <QByteArray>

namespace velmaris {

// The header block including its blank line must fit in this many bytes.
constexpr qsizetype kBridgeMaxHeaderBytes = 16 * 1024;
// Largest Content-Length accepted; the biggest legitimate body is a small
// JSON object.
constexpr qint64 kBridgeMaxBodyBytes = 1024 * 1024;

// One request as the loopback bridge routes it.
struct BridgeRequest
{
    QByteArray method;
    QByteArray path; // compared literally; a query string makes another path
    QByteArray origin;
    bool hasOrigin = false; // an empty Origin header is still a present one
    QByteArray body;
};

// What the bytes received so far on one connection amount to.
struct BridgeParseResult
{
    enum class Outcome {
        NeedMore, // incomplete: wait for at most bytesWanted further bytes
        Complete, // request holds the request; later bytes are not part of it
        Refuse,   // answer status with reason as the body, then close
        Drop,     // close without an answer (no request line to answer)
    };

    Outcome outcome = Outcome::NeedMore;
    qint64 bytesWanted = 0; // NeedMore: always at least 1
    int status = 0;         // Refuse
    QByteArray reason;      // Refuse
    BridgeRequest request;  // Complete
};

// Parses the start of one connection's byte stream. A pure function of its
// input, so it is called again with the grown buffer whenever bytes arrive;
// the caller never needs to hold more than the bytes asked for.
BridgeParseResult parseBridgeRequest(const QByteArray &received);

} // namespace velmaris
