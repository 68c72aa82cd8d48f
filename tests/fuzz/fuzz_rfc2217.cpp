// The Telnet client with the COM-port option on whatever a server sends, delivered in pieces
// the fuzzer chooses: the bytes straight from the network.
#include "FuzzBytes.h"
#include "Rfc2217Client.h"

#include <QList>

namespace {
struct Run {
    QByteArray data, toServer;
    Rfc2217Client::State state;
    bool suspended;
};

Run feed(const QByteArray &input, const QList<qsizetype> &cuts)
{
    Rfc2217Client client;
    Run run { {}, client.greeting(), Rfc2217Client::State::Negotiating, false };
    qsizetype from = 0;
    bool wasReady = false;
    for (const qsizetype cut : cuts + QList<qsizetype> { input.size() }) {
        const QByteArray piece = input.mid(from, cut - from);
        const qsizetype sent = run.toServer.size();
        const QByteArray out = client.receive(piece, run.toServer);
        // Never more data than came, and at most one answer a request (3 bytes for 3),
        // besides the settings and the purge sent once.
        FUZZ_CHECK(out.size() <= piece.size());
        FUZZ_CHECK(run.toServer.size() - sent <= piece.size() + 64);
        FUZZ_CHECK(client.said().size() <= Rfc2217Client::MaxSaid);
        // Ready is never taken back; data only comes once ready (a protocol error may end it).
        FUZZ_CHECK(!wasReady || client.state() != Rfc2217Client::State::Negotiating);
        FUZZ_CHECK(out.isEmpty() || client.state() == Rfc2217Client::State::Ready
                   || client.state() == Rfc2217Client::State::ProtocolError);
        wasReady = wasReady || client.state() == Rfc2217Client::State::Ready;
        run.data += out;
        from = cut;
    }
    run.state = client.state();
    run.suspended = client.suspended();

    // Line data for the wire: every IAC doubled, so the server reads it back unchanged; CR as
    // CR NUL outside binary mode.
    const QByteArray line = input.left(64);
    const QByteArray wire = client.encode(line);
    QByteArray back;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        if (wire[i] == char(0xFF)) {
            FUZZ_CHECK(i + 1 < wire.size() && wire[i + 1] == char(0xFF));
            ++i;
        }
        back += wire[i];
    }
    FUZZ_CHECK(back == line || back == QByteArray(line).replace("\r", QByteArray("\r\0", 2)));
    return run;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    // Up to eight cut positions, then the server's bytes.
    const int cutCount = in.byte() % 9;
    QList<qsizetype> cuts;
    for (int i = 0; i < cutCount; ++i)
        cuts << in.byte();
    const QByteArray input = in.rest().toLatin1();
    qsizetype last = 0;
    for (qsizetype &cut : cuts) {
        cut = std::min(input.size(), std::max(last, last + cut));
        last = cut;
    }

    const Run whole = feed(input, {});
    const Run pieces = feed(input, cuts);
    // However the bytes are cut, the same outcome.
    FUZZ_CHECK(pieces.data == whole.data);
    FUZZ_CHECK(pieces.toServer == whole.toServer);
    FUZZ_CHECK(pieces.state == whole.state);
    FUZZ_CHECK(pieces.suspended == whole.suspended);
    return 0;
}
