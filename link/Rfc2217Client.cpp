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
constexpr std::uint8_t FlowSuspend = 8, FlowResume = 9, PurgeData = 12;
constexpr std::uint8_t PurgeBoth = 3;

// The drive line's settings as COM-port commands (RFC 2217): command, value, its bytes.
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
    { 5, 1, 1, "flow control" }, // SET-CONTROL: 1 no flow control, outbound and both
};
constexpr std::size_t ControlSetting = 4;

// SET-CONTROL shares its code with the BREAK, DTR and RTS states (4 to 12) and the inbound
// flow control (13 to 16, 18): an answer about those is no answer to our question.
bool aboutOutboundFlow(std::uint8_t value)
{
    return value <= 3 || value == 17 || value == 19;
}

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

QByteArray doubledIac(const QByteArray &data)
{
    QByteArray out = data;
    return out.replace(QByteArray(1, char(Iac)), QByteArray(2, char(Iac)));
}

QByteArray comPortCommand(std::uint8_t command, const QByteArray &value)
{
    return bytes({ Iac, Sb, ComPort, command }) + doubledIac(value) + bytes({ Iac, Se });
}
} // namespace

QByteArray Rfc2217Client::greeting()
{
    m_usAsked[ComPort] = m_usAsked[Binary] = m_themAsked[Binary] = true;
    return telnet(Will, ComPort) + telnet(Will, Binary) + telnet(Do, Binary);
}

QByteArray Rfc2217Client::encode(const QByteArray &data) const
{
    QByteArray out = doubledIac(data);
    if (!m_us[Binary])
        out.replace('\r', QByteArray("\r\0", 2));
    return out;
}

QByteArray Rfc2217Client::receive(const QByteArray &received, QByteArray &toServer)
{
    QByteArray out;
    for (const char c : received) {
        if (m_state != State::Negotiating && m_state != State::Ready)
            break;
        const auto b = static_cast<std::uint8_t>(c);
        switch (m_parse) {
        case Parse::Data:
            if (b == Iac)
                m_parse = Parse::Iac;
            else
                data(c, out);
            break;
        case Parse::Iac:
            if (b == Iac) {
                data(c, out);
                m_parse = Parse::Data;
            } else {
                afterIac(b);
            }
            break;
        case Parse::Verb:
            m_parse = Parse::Data;
            command(m_verb, b, toServer);
            break;
        case Parse::Sub:
            if (b == Iac)
                m_parse = Parse::SubIac;
            else
                keepInSub(c);
            break;
        case Parse::SubIac:
            if (b == Iac) {
                m_parse = Parse::Sub;
                keepInSub(c);
                break;
            }
            // SE ends it. Anything else is a server's mistake that ends it too; the byte is
            // then a command of its own, never data.
            subnegotiation(toServer);
            if (b == Se)
                m_parse = Parse::Data;
            else
                afterIac(b);
            break;
        }
    }
    return out;
}

void Rfc2217Client::keepInSub(char c)
{
    if (m_sub.size() < MaxSubnegotiation)
        m_sub += c;
    else
        fail(State::ProtocolError,
             QStringLiteral("a subnegotiation longer than %1 bytes").arg(MaxSubnegotiation));
}

void Rfc2217Client::afterIac(std::uint8_t b)
{
    if (b == Sb) {
        m_sub.clear();
        m_parse = Parse::Sub;
    } else if (b > Sb) {
        m_verb = b;
        m_parse = Parse::Verb;
    } else {
        m_parse = Parse::Data; // NOP, GA, AYT, a stray SE...: nothing to do
    }
}

void Rfc2217Client::data(char c, QByteArray &out)
{
    if (m_state != State::Ready) {
        if (m_said.size() < MaxSaid)
            m_said += c;
        return;
    }
    // Outside binary mode a bare CR comes as CR NUL (RFC 854).
    const bool padding = c == '\0' && m_lastWasCr && !m_them[Binary];
    m_lastWasCr = c == '\r';
    if (!padding)
        out += c;
}

void Rfc2217Client::command(std::uint8_t verb, std::uint8_t option, QByteArray &toServer)
{
    // RFC 1143's rules, simplified for a client that never changes its mind: answer a request
    // only when it changes the option's state, so that no two sides loop, and refuse an
    // option once, so that a flood of requests gets no flood of answers.
    const bool negotiating = m_state == State::Negotiating;
    switch (verb) {
    case Do:
        if (!ours(option)) {
            if (!m_usRefused[option])
                toServer += telnet(Wont, option);
            m_usRefused[option] = true;
        } else if (!m_us[option]) {
            m_us[option] = true;
            if (!m_usAsked[option])
                toServer += telnet(Will, option);
            m_usAsked[option] = false;
        }
        break;
    case Dont:
        if (m_us[option])
            toServer += telnet(Wont, option);
        m_us[option] = m_usAsked[option] = false;
        if (negotiating && option == ComPort)
            fail(State::Refused, QString());
        if (negotiating && option == Binary)
            fail(State::BinaryRefused, QStringLiteral("it will not take binary data"));
        break;
    case Will:
        if (!theirs(option)) {
            if (!m_themRefused[option])
                toServer += telnet(Dont, option);
            m_themRefused[option] = true;
        } else if (!m_them[option]) {
            m_them[option] = true;
            if (!m_themAsked[option])
                toServer += telnet(Do, option);
            m_themAsked[option] = false;
        }
        break;
    case Wont:
        if (m_them[option])
            toServer += telnet(Dont, option);
        m_them[option] = m_themAsked[option] = false;
        if (negotiating && option == Binary)
            fail(State::BinaryRefused, QStringLiteral("it will not send binary data"));
        break;
    }

    if (option == ComPort && m_us[ComPort] && !m_settingsSent && m_state == State::Negotiating) {
        m_settingsSent = true;
        for (const Setting &s : Settings) {
            QByteArray value;
            for (int i = s.bytes - 1; i >= 0; --i)
                value += char((s.value >> (8 * i)) & 0xFF);
            toServer += comPortCommand(s.command, value);
        }
    }
    checkReady(toServer);
}

void Rfc2217Client::subnegotiation(QByteArray &toServer)
{
    // Other options' subnegotiations carry nothing the exchange needs.
    if (m_sub.size() < 2 || static_cast<std::uint8_t>(m_sub[0]) != ComPort)
        return;
    comPortAnswer(static_cast<std::uint8_t>(m_sub[1]), m_sub.mid(2), toServer);
}

void Rfc2217Client::comPortAnswer(std::uint8_t code, const QByteArray &value, QByteArray &toServer)
{
    if (code == FlowSuspend + ServerOffset) {
        m_suspended = true;
        return;
    }
    if (code == FlowResume + ServerOffset) {
        m_suspended = false;
        return;
    }
    // Only the answers to what we asked, while we wait for them; notifications (line and
    // modem state) and answers nobody asked for change nothing.
    if (m_state != State::Negotiating)
        return;
    if (code == PurgeData + ServerOffset && m_purgeSent) {
        const int got = value.isEmpty() ? -1 : static_cast<std::uint8_t>(value[0]);
        if (got != PurgeBoth) {
            fail(State::Mismatch,
                 QStringLiteral("purge %1 instead of %2")
                     .arg(got < 0 ? QStringLiteral("?") : QString::number(got))
                     .arg(PurgeBoth));
            return;
        }
        m_state = State::Ready;
        return;
    }
    for (std::size_t i = 0; i < std::size(Settings); ++i) {
        if (code != Settings[i].command + ServerOffset || !m_settingsSent || m_confirmed[i])
            continue;
        if (i == ControlSetting && !value.isEmpty()
            && !aboutOutboundFlow(static_cast<std::uint8_t>(value[0])))
            return;
        settingAnswer(i, value);
    }
    checkReady(toServer);
}

void Rfc2217Client::settingAnswer(std::size_t index, const QByteArray &value)
{
    const Setting &s = Settings[index];
    std::uint32_t got = 0;
    for (const char c : value.left(s.bytes))
        got = got << 8 | static_cast<std::uint8_t>(c);
    if (value.size() < s.bytes || got != s.value) {
        fail(State::Mismatch,
             QStringLiteral("%1 %2 instead of %3")
                 .arg(QLatin1String(s.name))
                 .arg(value.size() < s.bytes ? QStringLiteral("?") : QString::number(got))
                 .arg(s.value));
        return;
    }
    m_confirmed[index] = true;
}

void Rfc2217Client::checkReady(QByteArray &toServer)
{
    if (m_state != State::Negotiating || m_purgeSent || !m_us[ComPort] || !m_us[Binary]
        || !m_them[Binary]
        || !std::all_of(m_confirmed.begin(), m_confirmed.end(), [](bool c) { return c; }))
        return;
    // Whatever the server held from before is nobody's reply: it goes, and the answer
    // marks where the line's data starts.
    m_purgeSent = true;
    toServer += comPortCommand(PurgeData, QByteArray(1, char(PurgeBoth)));
}

void Rfc2217Client::fail(State state, const QString &problem)
{
    if (m_state != State::Negotiating && state != State::ProtocolError)
        return;
    m_state = state;
    m_problem = problem;
}
