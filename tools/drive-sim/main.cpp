// vcm-drive-sim: a bus of simulated VCM drives on a pseudo-terminal or a serial port.

#include "Bus.h"
#include "CommandLine.h"
#include "ControlCommands.h"
#include "LinePort.h"
#include "Plant.h"
#include "StateFile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

struct Options {
    std::vector<int> stations { 0 };
    std::vector<int> newRecorder;
    std::string link;
    std::string device;
    std::string state;
    bool fast = false;
    bool demo = false;
    bool keepServoOn = false;
    std::optional<std::uint32_t> plantSeed; // none: the default plant
    bool describePlant = false;
};

constexpr double ByteUs = 1.0e6 * 10.0 / 38400.0; // start, 8 data, stop
constexpr std::size_t MaxQueuedOutput = 1 << 20;
constexpr std::size_t MaxControlLine = 256;

void usage(std::FILE *to)
{
    std::fputs("usage: vcm-drive-sim [--stations LIST] [--new-recorder LIST] [--link PATH]\n"
               "                     [--device PATH] [--state FILE] [--fast] [--demo]\n"
               "                     [--keep-servo-on] [--plant-seed N] [--describe-plant]\n"
               "  --stations LIST      stations present, e.g. 1,5 (default 0)\n"
               "  --new-recorder LIST  stations with the 128-sample recorder (\"VCRR new\")\n"
               "  --link PATH          symbolic link to the pseudo-terminal\n"
               "  --device PATH        answer on this serial port (38400 8N1) instead\n"
               "  --state FILE         keep the parameters saved by \"SV\" in FILE\n"
               "  --fast               no wire-speed pacing of the replies\n"
               "  --demo               bench mode: servo on after selection, DI2 up/down\n"
               "  --keep-servo-on      servo on from the start, also when a station is addressed\n"
               "  --plant-seed N       every station drives plant N of the family (0-4294967295)\n"
               "                       instead of the default plant\n"
               "  --describe-plant     print the plant's properties and exit\n"
               "The first line of output is the path of the line.\n",
               to);
}

std::optional<std::vector<int>> stationList(const std::string &text)
{
    std::vector<int> list;
    std::string part;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',') {
            const auto value = CommandLine::parseInteger(part);
            if (!value || *value < 0 || *value > 15)
                return std::nullopt;
            list.push_back(static_cast<int>(*value));
            part.clear();
        } else {
            part += text[i];
        }
    }
    return list;
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--keep-servo-on") {
            options.keepServoOn = true;
        } else if (arg == "--describe-plant") {
            options.describePlant = true;
        } else if (hasValue && arg == "--plant-seed") {
            const auto seed = CommandLine::parseInteger(argv[++i]);
            if (!seed || *seed < 0 || *seed > 0xFFFFFFFFLL) {
                std::fprintf(stderr, "vcm-drive-sim: bad plant seed '%s'\n", argv[i]);
                return std::nullopt;
            }
            options.plantSeed = static_cast<std::uint32_t>(*seed);
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else if (hasValue && (arg == "--stations" || arg == "--new-recorder")) {
            const auto list = stationList(argv[++i]);
            if (!list) {
                std::fprintf(stderr, "vcm-drive-sim: bad station list '%s'\n", argv[i]);
                return std::nullopt;
            }
            (arg == "--stations" ? options.stations : options.newRecorder) = *list;
        } else if (hasValue && arg == "--link") {
            options.link = argv[++i];
        } else if (hasValue && arg == "--device") {
            options.device = argv[++i];
        } else if (hasValue && arg == "--state") {
            options.state = argv[++i];
        } else {
            std::fprintf(stderr, "vcm-drive-sim: unknown or incomplete option '%s'\n", arg.c_str());
            return std::nullopt;
        }
    }
    return options;
}

void say(const std::string &text)
{
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Simulator final {
public:
    explicit Simulator(const Options &options)
        : m_options(options),
          m_bus(options.stations, options.newRecorder),
          m_control(m_bus),
          m_start(std::chrono::steady_clock::now())
    {
    }

    bool start()
    {
        if (!m_options.state.empty()) {
            m_state.emplace(m_options.state);
            if (!m_state->load())
                std::fprintf(stderr, "vcm-drive-sim: cannot read %s\n", m_options.state.c_str());
            m_bus.setSaveHandler([this](const Station &station) {
                m_state->store(station);
                if (!m_state->write())
                    say("warning: cannot write " + m_state->path());
            });
        }
        for (Station *station : m_bus.stations()) {
            if (m_options.plantSeed)
                station->setPlant(Plant::family(*m_options.plantSeed));
            if (m_options.demo) {
                station->setDemo(true);
                station->setUpDownMode(true);
            }
            if (m_state) {
                if (const auto memory = m_state->memoryOf(station->number()))
                    station->loadMemory(*memory);
            }
            if (m_options.keepServoOn) {
                station->setKeepServoOn(true);
                station->setServoInput(true);
            }
        }
        std::string error;
        if (!openLine(error)) {
            std::fprintf(stderr, "vcm-drive-sim: %s\n", error.c_str());
            return false;
        }
        say(m_line.path());
        return true;
    }

    int run()
    {
        while (!g_stop && !m_quit) {
            const std::int64_t now = nowUs();
            m_bus.advanceTo(now);
            queueOutput(m_bus.takeDue(now), now);
            flushOutput(now);
            waitAndRead();
        }
        m_line.close();
        return 0;
    }

private:
    bool openLine(std::string &error)
    {
        if (!m_options.device.empty())
            return m_line.openDevice(m_options.device, error);
        return m_line.openPty(m_options.link, error);
    }

    std::int64_t nowUs() const
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now() - m_start).count();
    }

    void queueOutput(const std::string &bytes, std::int64_t now)
    {
        if (!m_line.isOpen() || bytes.empty())
            return;
        // An idle line starts sending now; a busy one carries on where it is.
        if (m_tx.empty())
            m_lineFreeUs = std::max(m_lineFreeUs, double(now));
        m_tx += bytes;
        // Nobody reads the line: keep the newest bytes, like a receiver that lost sync.
        if (m_tx.size() > MaxQueuedOutput)
            m_tx.erase(0, m_tx.size() - MaxQueuedOutput);
    }

    void flushOutput(std::int64_t now)
    {
        if (!m_line.isOpen() || m_tx.empty())
            return;
        std::size_t allowed = m_tx.size();
        if (!m_options.fast) {
            // A byte reaches the far end once its ten bits have gone out.
            const double sent = (double(now) - m_lineFreeUs) / ByteUs;
            allowed = sent < 1.0 ? 0 : std::min(allowed, std::size_t(sent));
        }
        if (allowed == 0)
            return;
        const ssize_t written = ::write(m_line.fd(), m_tx.data(), allowed);
        if (written > 0) {
            m_tx.erase(0, static_cast<std::size_t>(written));
            m_lineFreeUs += double(written) * ByteUs;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            lineFailed();
        }
    }

    void waitAndRead()
    {
        int timeoutMs = 2;
        if (!m_tx.empty())
            timeoutMs = 1;
        if (const auto due = m_bus.nextDue()) {
            const std::int64_t wait = (*due - nowUs()) / 1000;
            timeoutMs = static_cast<int>(
                std::max<std::int64_t>(0, std::min<std::int64_t>(timeoutMs, wait)));
        }
        pollfd fds[2] {};
        int count = 0;
        int lineIndex = -1;
        int inputIndex = -1;
        if (m_stdinOpen) {
            fds[count] = { STDIN_FILENO, POLLIN, 0 };
            inputIndex = count++;
        }
        if (m_line.isOpen()) {
            short events = POLLIN;
            if (m_options.fast && !m_tx.empty())
                events |= POLLOUT;
            fds[count] = { m_line.fd(), events, 0 };
            lineIndex = count++;
        }
        if (::poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0)
            return;
        if (lineIndex >= 0 && fds[lineIndex].revents != 0)
            readLine();
        if (inputIndex >= 0 && fds[inputIndex].revents != 0)
            readControl();
    }

    void readLine()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_line.fd(), buffer, sizeof buffer);
            if (n > 0) {
                m_bus.receive(std::string(buffer, static_cast<std::size_t>(n)), nowUs());
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            // End of file or an error: the device has gone.
            lineFailed();
            return;
        }
    }

    void lineFailed()
    {
        say("line lost: " + m_line.path());
        dropLine();
    }

    void dropLine()
    {
        m_line.close();
        m_bus.discardPending();
        m_tx.clear();
    }

    void readControl()
    {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            // Started without a terminal: keep running until signalled.
            m_stdinOpen = false;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n' || c == '\r') {
                const std::string line = m_controlLine;
                m_controlLine.clear();
                runControl(line);
            } else if (m_controlLine.size() < MaxControlLine) {
                m_controlLine += c;
            }
        }
    }

    void runControl(const std::string &line)
    {
        m_bus.advanceTo(nowUs());
        const ControlCommands::Result result = m_control.apply(line);
        if (result.message.empty() && result.ok && result.line == ControlCommands::LineAction::None)
            return;
        if (result.line == ControlCommands::LineAction::Drop) {
            dropLine();
            say("line dropped");
            return;
        }
        if (result.line == ControlCommands::LineAction::Restore) {
            std::string error;
            if (m_line.isOpen())
                say("line already up: " + m_line.path());
            else if (openLine(error))
                say("line restored: " + m_line.path());
            else
                say("error: " + error);
            return;
        }
        say(result.ok ? result.message : "error: " + result.message);
        m_quit = result.quit;
    }

    Options m_options;
    Bus m_bus;
    ControlCommands m_control;
    LinePort m_line;
    std::optional<StateFile> m_state;
    std::chrono::steady_clock::time_point m_start;
    std::string m_tx;
    double m_lineFreeUs = 0.0;
    std::string m_controlLine;
    bool m_stdinOpen = true;
    bool m_quit = false;
};

} // namespace

int main(int argc, char **argv)
{
    const auto options = parseOptions(argc, argv);
    if (!options) {
        usage(stderr);
        return 2;
    }
    if (options->describePlant) {
        const Plant plant = options->plantSeed ? Plant::family(*options->plantSeed) : Plant();
        std::fputs(plant.describe().c_str(), stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    Simulator simulator(*options);
    if (!simulator.start())
        return 1;
    return simulator.run();
}
