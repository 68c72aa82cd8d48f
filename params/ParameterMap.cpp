#include "ParameterMap.h"

namespace ParameterMap {

ParameterAddress address(BoxArray array, int index)
{
    switch (array) {
    case BoxArray::KG:
        return { 0, index };
    case BoxArray::VG:
        if (index == 4)
            return { 1, 10 };
        if (index == 10)
            return { 1, 11 };
        return { 1, index };
    case BoxArray::POS:
        return { index / 2 + 2, index % 2 };
    }
    return {};
}

QString readCommand(BoxArray array, int index)
{
    const ParameterAddress a = address(array, index);
    return QStringLiteral("RD %1 %2").arg(a.group).arg(a.item);
}

QString writeCommand(BoxArray array, int index, const QString &value)
{
    const ParameterAddress a = address(array, index);
    return QStringLiteral("WT %1 %2 ").arg(a.group).arg(a.item) + value;
}

QList<ParameterBox> loadOrder()
{
    QList<ParameterBox> boxes;
    for (int i = 0; i < KGCount; ++i)
        boxes.append({ BoxArray::KG, i });
    for (int i = 0; i < VGCount; ++i)
        boxes.append({ BoxArray::VG, i });
    for (int i = 0; i < POSCount; ++i)
        boxes.append({ BoxArray::POS, i });
    return boxes;
}

} // namespace ParameterMap
