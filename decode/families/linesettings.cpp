// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/linesettings.h"

QString LineSettings::frameText() const
{
    return QStringLiteral("%1%2%3").arg(dataBits).arg(QLatin1Char(parity)).arg(stopBits);
}

QString LineSettings::text() const
{
    return QStringLiteral("%1 %2").arg(baud).arg(frameText());
}

bool parseLineFrame(const QString &text, LineSettings &line)
{
    const QString given = text.trimmed().toUpper();
    if (given.size() != 3)
        return false;
    const int data = given.at(0).unicode() - '0';
    const char parity = char(given.at(1).unicode());
    const int stop = given.at(2).unicode() - '0';
    if (data < 5 || data > 8 || (parity != 'N' && parity != 'E' && parity != 'O') || (stop != 1 && stop != 2))
        return false;
    line.dataBits = data;
    line.parity = parity;
    line.stopBits = stop;
    return true;
}
