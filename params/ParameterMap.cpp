#include "ParameterMap.h"

namespace ParameterMap {

namespace {
// Captions of the boxes, in box order.
const char *const Names[Count] = {
    "KPP", "KFV", "KVP", "KVI", "KVV",  "KFS", "KFD", "KGC", // txtKG
    "VCW", "VIP", "VPX", "VT1", "VCF2", "VSV", "VCF", "VPK", "VI2", "VAC", "VT2", // txtVG
    "UP0", "UP1", "DN0", "DN1", "TH0",  "TH1", // txtPOS
};
} // namespace

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
    for (int i = 0; i < Count; ++i)
        boxes.append(boxAt(i));
    return boxes;
}

int ordinal(ParameterBox box)
{
    switch (box.array) {
    case BoxArray::KG:
        return box.index;
    case BoxArray::VG:
        return KGCount + box.index;
    case BoxArray::POS:
        return KGCount + VGCount + box.index;
    }
    return 0;
}

ParameterBox boxAt(int ordinal)
{
    if (ordinal < KGCount)
        return { BoxArray::KG, ordinal };
    if (ordinal < KGCount + VGCount)
        return { BoxArray::VG, ordinal - KGCount };
    return { BoxArray::POS, ordinal - KGCount - VGCount };
}

QString name(ParameterBox box)
{
    return QLatin1String(Names[ordinal(box)]);
}

std::optional<ParameterBox> boxNamed(const QString &name)
{
    for (int i = 0; i < Count; ++i) {
        if (name == QLatin1String(Names[i]))
            return boxAt(i);
    }
    return std::nullopt;
}

} // namespace ParameterMap
