// The write-back check: the echo of "WT" against the box's text.
#include "FuzzBytes.h"
#include "WriteEcho.h"

#include <cfenv>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    // First byte: length of the box text; it follows, then the reply.
    const QString boxText = in.text(in.byte() % 32);
    const QString reply = in.rest();

    const int mode = std::fegetround();
    const std::optional<std::int16_t> typed = parameterNumber(boxText);
    FUZZ_CHECK(std::fegetround() == mode);
    if (typed) {
        // A number that was read once reads the same when printed back.
        const std::optional<std::int16_t> again = parameterNumber(QString::number(*typed));
        FUZZ_CHECK(again && *again == *typed);
    }

    QString echoed = QStringLiteral("untouched");
    const WriteEcho verdict = judgeWriteEcho(reply, boxText, &echoed);
    const std::optional<std::int16_t> echo = parameterNumber(echoed);
    FUZZ_CHECK(verdict != WriteEcho::NoValue || echoed == QLatin1String("untouched"));
    FUZZ_CHECK(verdict != WriteEcho::Confirmed || (typed && echo && *echo == *typed));
    FUZZ_CHECK(verdict != WriteEcho::Differs || reply.contains(QLatin1Char('=')));
    // The box always agrees with its own echo.
    if (typed) {
        const QString own = QStringLiteral("WT 1=") + boxText + QStringLiteral(";\r\n>");
        if (!boxText.contains(QLatin1Char('=')) && !boxText.contains(QLatin1Char('>')))
            FUZZ_CHECK(judgeWriteEcho(own, boxText) == WriteEcho::Confirmed);
    }
    return 0;
}
