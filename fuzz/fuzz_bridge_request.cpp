// The loopback bridge's request parser on arbitrary bytes, whole and as the
// growing buffer a slow client makes, checking what the server relies on.

#include "app/BridgeRequestParser.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using Outcome = velmaris::BridgeParseResult::Outcome;

// What the server's reading loop takes for granted of every answer.
void check(const velmaris::BridgeParseResult &result, qsizetype received)
{
    switch (result.outcome) {
    case Outcome::NeedMore:
        // At least one more byte, never past the header and body caps.
        if (result.bytesWanted < 1
            || received + result.bytesWanted > velmaris::kBridgeMaxHeaderBytes + velmaris::kBridgeMaxBodyBytes + 4)
            std::abort();
        break;
    case Outcome::Refuse:
        if (result.status < 400 || result.status > 499 || result.reason.isEmpty())
            std::abort();
        break;
    case Outcome::Complete:
        if (result.request.body.size() > velmaris::kBridgeMaxBodyBytes || result.request.method.isEmpty())
            std::abort();
        break;
    case Outcome::Drop:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const velmaris::BridgeParseResult whole = velmaris::parseBridgeRequest(bytes);
    check(whole, bytes.size());
    // A client that sends the same bytes in pieces: the parser sees each
    // longer prefix in turn and must settle the way it settles on the whole.
    const qsizetype step = std::max<qsizetype>(1, bytes.size() / 7);
    for (qsizetype cut = step; cut < bytes.size(); cut += step) {
        const velmaris::BridgeParseResult part = velmaris::parseBridgeRequest(bytes.left(cut));
        check(part, cut);
        if (part.outcome == Outcome::Refuse && whole.outcome != Outcome::Refuse)
            std::abort(); // a refusal cannot be taken back by later bytes
    }
    return 0;
}
