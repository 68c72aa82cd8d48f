#pragma once

#include <QList>
#include <QString>

#include <optional>

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
inline constexpr int Count = KGCount + VGCount + POSCount;

// Gains are group 0; the settings group 1, where box 4 shows item 10 and box 10 item 11
// (item 4 has no box); positions are groups 2 to 4, two items each.
ParameterAddress address(BoxArray array, int index);

QString readCommand(BoxArray array, int index);
QString writeCommand(BoxArray array, int index, const QString &value);

// All 25 boxes in the order the load reads them, which is also the order of the boxes.
QList<ParameterBox> loadOrder();

// A box's place in loadOrder(), 0..Count-1, and back.
int ordinal(ParameterBox box);
ParameterBox boxAt(int ordinal);

// The box's caption ("KPP" ... "TH1"), which also names the parameter in files and scripts.
QString name(ParameterBox box);
// The box a caption names, exactly as the frame spells it.
std::optional<ParameterBox> boxNamed(const QString &name);
} // namespace ParameterMap
