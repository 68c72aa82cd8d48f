#pragma once

#include <QList>
#include <QString>

// The three arrays of parameter boxes in the "Parameter Adjustment" frame.
enum class BoxArray { KG, VG, POS };

// Where one box's value lives in the drive.
struct ParameterAddress {
    int group = 0;
    int item = 0;
    friend bool operator==(const ParameterAddress &a, const ParameterAddress &b)
    {
        return a.group == b.group && a.item == b.item;
    }
};

struct ParameterBox {
    BoxArray array;
    int index;
};

namespace ParameterMap {
inline constexpr int KGCount = 8;
inline constexpr int VGCount = 11;
inline constexpr int POSCount = 6;

// Gains are group 0; the settings group 1, where box 4 shows item 10 and box 10 item 11
// (item 4 has no box); positions are groups 2 to 4, two items each.
ParameterAddress address(BoxArray array, int index);

QString readCommand(BoxArray array, int index);
QString writeCommand(BoxArray array, int index, const QString &value);

// All 25 boxes in the order the load reads them.
QList<ParameterBox> loadOrder();
} // namespace ParameterMap
