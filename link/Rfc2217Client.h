#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The client's side of a Telnet connection with the COM-port option (RFC 2217), without the
// socket: it turns received bytes into the line's data and the answers owed to the server,
// and the line's data into bytes for the wire. The drive line wants 38400 baud, 8 data bits,
// no parity, one stop bit and no flow control; the server must take the option and confirm
// each of these.
class Rfc2217Client final {
public:
    enum class State {
        Negotiating,
        Ready, // the server confirmed every setting
        Refused, // the server will not do the COM-port option
        Mismatch, // the server answered a setting with another value
    };

    // What opens the conversation: the offer of the COM-port option and of binary data.
    QByteArray greeting();
    // The line's data for the wire: IAC (0xFF) doubled.
    static QByteArray escape(const QByteArray &data);
    // Received bytes in; the line's data out. Answers to the server's requests and the
    // settings, once the option is agreed, are appended to `toServer`.
    QByteArray receive(const QByteArray &received, QByteArray &toServer);

    State state() const { return m_state; }
    // What the server answered that we did not ask for ("baud rate 9600"), for a Mismatch.
    QString mismatch() const { return m_mismatch; }

private:
    void command(std::uint8_t verb, std::uint8_t option, QByteArray &toServer);
    void subnegotiation();
    void comPortAnswer(std::uint8_t code, const QByteArray &value);

    enum class Parse { Data, Iac, Verb, Sub, SubIac };
    Parse m_parse = Parse::Data;
    std::uint8_t m_verb = 0;
    QByteArray m_sub;

    // Per option (only those below 64 are ever agreed): enabled, and asked for by us.
    std::array<bool, 64> m_us {}, m_usAsked {}, m_them {}, m_themAsked {};
    bool m_settingsSent = false;
    std::array<std::optional<std::uint32_t>, 5> m_answers {};
    State m_state = State::Negotiating;
    QString m_mismatch;
};
