#include "Rfc2217Client.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace {
// Telnet (RFC 854) commands and options.
constexpr std::uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
constexpr std::uint8_t Binary = 0, SuppressGoAhead = 3, ComPort = 44;
// The server answers a client's COM-port command n with n + 100.
constexpr std::uint8_t ServerOffset = 100;
// Longest subnegotiation kept; the COM-port answers are a few bytes.
constexpr int MaxSub = 64;

// The drive line's settings as COM-port commands (RFC 2217): command, value bytes, and the
// value the server must confirm.
struct Setting {
    std::uint8_t command;
    std::uint32_t value;
    int bytes;
    const char *name;
};
constexpr Setting Settings[] = {
    { 1, 38400, 4, "baud rate" }, // SET-BAUDRATE
    { 2, 8, 1, "data size" }, // SET-DATASIZE
    { 3, 1, 1, "parity" }, // SET-PARITY: 1 none
    { 4, 1, 1, "stop size" }, // SET-STOPSIZE: 1 one
    { 5, 1, 1, "flow control" }, // SET-CONTROL: 1 none
};

// Options we agree to, either side.
bool ours(std::uint8_t option)
{
    return option == Binary || option == SuppressGoAhead || option == ComPort;
}
bool theirs(std::uint8_t option)
{
    // No ECHO: the drive's replies must not carry our commands back.
    return option == Binary || option == SuppressGoAhead;
}

QByteArray bytes(std::initializer_list<std::uint8_t> list)
{
    QByteArray out;
    for (const std::uint8_t b : list)
        out += char(b);
    return out;
}

QByteArray telnet(std::uint8_t verb, std::uint8_t option)
{
    return bytes({ Iac, verb, option });
}
} // namespace

QByteArray Rfc2217Client::greeting()
{
    m_usAsked[ComPort] = m_usAsked[Binary] = m_themAsked[Binary] = true;
    return telnet(Will, ComPort) + telnet(Will, Binary) + telnet(Do, Binary);
}

QByteArray Rfc2217Client::escape(const QByteArray &data)
{
    QByteArray out = data;
    return out.replace(QByteArray(1, char(Iac)), QByteArray(2, char(Iac)));
}

QByteArray Rfc2217Client::receive(const QByteArray &received, QByteArray &toServer)
{
    QByteArray data;
    for (const char c : received) {
        const auto b = static_cast<std::uint8_t>(c);
        switch (m_parse) {
        case Parse::Data:
            if (b == Iac)
                m_parse = Parse::Iac;
            else
                data += c;
            break;
        case Parse::Iac:
            if (b == Iac) {
                data += c;
                m_parse = Parse::Data;
            } else if (b >= Sb) {
                m_verb = b;
                m_parse = b == Sb ? Parse::Sub : Parse::Verb;
                m_sub.clear();
            } else {
                m_parse = Parse::Data; // NOP, GA, AYT, a stray SE...: nothing to do
            }
            break;
        case Parse::Verb:
            command(m_verb, b, toServer);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (b == Iac)
                m_parse = Parse::SubIac;
            else if (m_sub.size() < MaxSub)
                m_sub += c;
            break;
        case Parse::SubIac:
            if (b == Iac) {
                if (m_sub.size() < MaxSub)
                    m_sub += c;
                m_parse = Parse::Sub;
            } else {
                // SE ends it; anything else is a server's mistake, taken as the end too.
                subnegotiation();
                m_parse = Parse::Data;
            }
            break;
        }
    }
    return data;
}

void Rfc2217Client::command(std::uint8_t verb, std::uint8_t option, QByteArray &toServer)
{
    // RFC 1143's rules, simplified for a client that never changes its mind: answer a request
    // only when it changes the option's state, so that no two sides loop.
    const bool known = option < m_us.size();
    switch (verb) {
    case Do:
        if (!ours(option)) {
            toServer += telnet(Wont, option);
        } else if (!m_us[option]) {
            m_us[option] = true;
            if (!m_usAsked[option])
                toServer += telnet(Will, option);
            m_usAsked[option] = false;
        }
        break;
    case Dont:
        if (known && (m_us[option] || m_usAsked[option])) {
            if (m_us[option])
                toServer += telnet(Wont, option);
            m_us[option] = m_usAsked[option] = false;
            if (option == ComPort)
                m_state = State::Refused;
        }
        break;
    case Will:
        if (!theirs(option)) {
            toServer += telnet(Dont, option);
        } else if (!m_them[option]) {
            m_them[option] = true;
            if (!m_themAsked[option])
                toServer += telnet(Do, option);
            m_themAsked[option] = false;
        }
        break;
    case Wont:
        if (known && (m_them[option] || m_themAsked[option])) {
            if (m_them[option])
                toServer += telnet(Dont, option);
            m_them[option] = m_themAsked[option] = false;
        }
        break;
    }

    if (option == ComPort && m_us[ComPort] && !m_settingsSent && m_state == State::Negotiating) {
        m_settingsSent = true;
        for (const Setting &s : Settings) {
            QByteArray value;
            for (int i = s.bytes - 1; i >= 0; --i)
                value += char((s.value >> (8 * i)) & 0xFF);
            toServer += bytes({ Iac, Sb, ComPort, s.command }) + escape(value) + bytes({ Iac, Se });
        }
    }
}

void Rfc2217Client::subnegotiation()
{
    // Other options' subnegotiations, and the server's notifications (line and modem state,
    // flow suspend), carry nothing the exchange needs.
    if (m_sub.size() < 2 || static_cast<std::uint8_t>(m_sub[0]) != ComPort)
        return;
    comPortAnswer(static_cast<std::uint8_t>(m_sub[1]), m_sub.mid(2));
}

void Rfc2217Client::comPortAnswer(std::uint8_t code, const QByteArray &value)
{
    if (!m_settingsSent || m_state != State::Negotiating)
        return;
    for (std::size_t i = 0; i < std::size(Settings); ++i) {
        const Setting &s = Settings[i];
        if (code != s.command + ServerOffset)
            continue;
        std::uint32_t got = 0;
        for (const char c : value.left(s.bytes))
            got = got << 8 | static_cast<std::uint8_t>(c);
        if (value.size() < s.bytes || got != s.value) {
            m_mismatch
                = QStringLiteral("%1 %2 instead of %3")
                      .arg(QLatin1String(s.name))
                      .arg(value.size() < s.bytes ? QStringLiteral("?") : QString::number(got))
                      .arg(s.value);
            m_state = State::Mismatch;
            return;
        }
        m_answers[i] = got;
    }
    if (std::all_of(m_answers.begin(), m_answers.end(),
                    [](const auto &a) { return a.has_value(); }))
        m_state = State::Ready;
}
