#pragma once

#include "Tuner.h"

#include <QJsonObject>
#include <QString>

// How a tuning run reads for a person and for a script: shared by vcm-tool and the window.

QString gainText(const Gains &gains, const std::array<bool, TuneGain::Count> &shown);
// One line a trial: its gains and both directions' figures.
QString trialLine(const Trial &trial, const std::array<bool, TuneGain::Count> &shown);
// The result: the gains before -> after and the figures before -> after, a line each.
QStringList resultLines(const TuneResult &result, const std::array<bool, TuneGain::Count> &shown);
// What the run left behind, whatever its outcome: where the actuator stands, the motion target
// its test motions wrote, and what the figures or the drive could not show (caveats).
QStringList endLines(const TuneResult &result);

QString trialCsvHeader();
QString trialCsvRow(const Trial &trial);

QJsonObject trialJson(const Trial &trial);
QJsonObject resultJson(const TuneResult &result);
