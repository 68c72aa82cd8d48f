// Loading the drive's gains, settings and positions into their boxes.
#include "Form1.h"

#include "ParameterReply.h"
#include "VbStyle.h"

#include <QLineEdit>

QLineEdit *Form1::parameterBox(BoxArray array, int index) const
{
    switch (array) {
    case BoxArray::KG:
        return txtKG[index];
    case BoxArray::VG:
        return txtVG[index];
    case BoxArray::POS:
        return txtPOS[index];
    }
    return nullptr;
}

void Form1::cmdRead_Click()
{
    if (deferWhilePolling(ActionLoad))
        return;

    for (int i : txtKG.indices())
        txtKG[i]->clear();
    for (int i : txtVG.indices())
        txtVG[i]->clear();

    for (const ParameterBox &box : ParameterMap::loadOrder())
        readParameter(box.array, box.index);

    UnlockButtons();
}

void Form1::readParameter(BoxArray array, int index)
{
    QLineEdit *box = parameterBox(array, index);
    const bool ok = CommDone() && SendCmdLong(ParameterMap::readCommand(array, index));
    const std::optional<QString> value = ok ? parameterValue(RxBuffer()) : std::nullopt;
    if (value) {
        RxValue = *value;
        box->setText(RxValue);
        setForeColor(box, vbColor(0x000000));
    } else {
        box->setText(QStringLiteral("ER"));
        setForeColor(box, vbColor(0x0000FF));
    }
}
