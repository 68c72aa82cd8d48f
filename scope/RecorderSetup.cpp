#include "RecorderSetup.h"

#include "ReplyValue.h"

std::optional<IntervalSetting> intervalSetting(const QString &span, bool vcrrNew)
{
    static const char *const spans[] = { "100", "200", "300", "400", "500" };
    for (int k = 0; k < 5; ++k) {
        if (span == QLatin1String(spans[k])) {
            const int normalCode = 2 * (k + 1);
            return IntervalSetting { QString::number(vcrrNew ? 2 * normalCode : normalCode),
                                     100 * (k + 1) + 100 };
        }
    }
    return std::nullopt;
}

QString channelList(const std::array<bool, 8> &ticked)
{
    QString list;
    for (int i = 0; i < 8; ++i) {
        if (ticked[i])
            list += QLatin1Char(' ') + QString::number(i + 1);
    }
    return list;
}

QString intervalCommand(const IntervalSetting &interval)
{
    return QStringLiteral("WT 9 4 ") + interval.code;
}

QString channelCommand(const std::array<bool, 8> &ticked)
{
    return QStringLiteral("RC") + channelList(ticked);
}

QString channelName(int box)
{
    if (box >= 0 && box < 7)
        return QLatin1String(VariableNames[box]);
    return box == 7 ? QStringLiteral("DIO") : QString();
}

std::optional<int> channelBox(const QString &name)
{
    for (int box = 0; box < 8; ++box) {
        if (name.compare(channelName(box), Qt::CaseInsensitive) == 0)
            return box;
    }
    return std::nullopt;
}

QString traceLegend(bool dio)
{
    if (dio)
        return QStringLiteral("Red--1st variable\r\nBlue--INPOS\r\nYellow--DQ0\r\nGreen--BOND\r\n"
                              "White--DI1");
    return QStringLiteral("Red--1st variable\r\nYellow--2nd variable");
}

ChannelSelection::Effect ChannelSelection::toggle(int index, bool ticked)
{
    Effect effect;
    const auto box = static_cast<std::int16_t>(index);
    if (ticked) {
        ++ChannelCount;
        if (ChannelCount == 1) {
            SecondChannel = box;
        } else if (ChannelCount == 2) {
            FirstChannel = SecondChannel;
            SecondChannel = box;
            effect.boxes = BoxChange::DisableUnticked;
            effect.setupEnabled = true;
        }
        return effect;
    }
    --ChannelCount;
    if (ChannelCount == 1) {
        if (SecondChannel == box) {
            SecondChannel = FirstChannel;
            FirstChannel = 10;
        } else if (FirstChannel == box) {
            FirstChannel = 10;
        }
        effect.boxes = BoxChange::EnableAll;
        effect.setupEnabled = false;
    } else if (ChannelCount == 0) {
        SecondChannel = 10;
    }
    return effect;
}
