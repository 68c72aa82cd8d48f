#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <bitset>
#include <cstdint>

// The client's side of a Telnet connection with the COM-port option (RFC 2217), without the
// socket: it turns received bytes into the line's data and the answers owed to the server,
// and the line's data into bytes for the wire. The drive line wants binary data both ways,
// 38400 baud, 8 data bits, no parity, one stop bit and no flow control; the server must take
// the option, confirm each setting, and then purge both its buffers, so that no byte it held
// from before reaches the first exchange.
class Rfc2217Client final {
public:
    enum class State {
        Negotiating,
        Ready, // binary both ways, every setting confirmed, the server's buffers purged
        Refused, // the server will not do the COM-port option
        BinaryRefused, // the server will not send or take binary data
        Mismatch, // the server answered a setting with another value
        ProtocolError, // the server broke the Telnet rules
    };
    // Longest subnegotiation taken; the COM-port answers are a few bytes.
    static constexpr int MaxSubnegotiation = 256;
    // What is kept of the data that came before the connection was ready, for messages.
    static constexpr int MaxSaid = 256;

    // What opens the conversation: the offer of the COM-port option and of binary data.
    QByteArray greeting();
    // The line's data for the wire: IAC (0xFF) doubled, and CR sent as CR NUL while the server
    // does not take binary data (RFC 854).
    QByteArray encode(const QByteArray &data) const;
    // Received bytes in; the line's data out, once the connection is ready (what came before
    // is nobody's reply: see said()). Answers to the server's requests and our own requests
    // are appended to `toServer`.
    QByteArray receive(const QByteArray &received, QByteArray &toServer);

    State state() const { return m_state; }
    // What went wrong, for Mismatch and ProtocolError: "baud rate 9600 instead of 38400".
    QString problem() const { return m_problem; }
    // The server asked us to hold our data (FLOWCONTROL-SUSPEND) and has not resumed.
    bool suspended() const { return m_suspended; }
    // The first bytes of data the server sent before the connection was ready ("Port already
    // in use" and the like).
    QByteArray said() const { return m_said; }

private:
    enum class Parse { Data, Iac, Verb, Sub, SubIac };

    void keepInSub(char c);
    void afterIac(std::uint8_t b);
    void data(char c, QByteArray &out);
    void command(std::uint8_t verb, std::uint8_t option, QByteArray &toServer);
    void subnegotiation(QByteArray &toServer);
    void comPortAnswer(std::uint8_t code, const QByteArray &value, QByteArray &toServer);
    void settingAnswer(std::size_t index, const QByteArray &value);
    void fail(State state, const QString &problem);
    void checkReady(QByteArray &toServer);

    Parse m_parse = Parse::Data;
    std::uint8_t m_verb = 0;
    QByteArray m_sub;
    bool m_lastWasCr = false;

    // Per option: enabled, asked for by us, and refused once already (a server that asks
    // again gets no second refusal). "Us" is what we do, "them" what the server does.
    std::bitset<256> m_us, m_usAsked, m_usRefused, m_them, m_themAsked, m_themRefused;
    bool m_settingsSent = false;
    std::array<bool, 5> m_confirmed {};
    bool m_purgeSent = false;
    bool m_suspended = false;
    State m_state = State::Negotiating;
    QString m_problem;
    QByteArray m_said;
};
