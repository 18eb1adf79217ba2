// SPDX-License-Identifier: GPL-3.0-or-later
// --family auto on a port: the line settings every family uses, tried in
// turn, each with the families that run at it.
#ifndef LINKSCOPE_DUMP_AUTODETECT_H
#define LINKSCOPE_DUMP_AUTODETECT_H

#include "decode/families/familytable.h"

class FamilyDetector
{
public:
    // How long each setting is listened to: several frames of the slowest
    // family, and short enough that the eight settings take under 2 s.
    static constexpr int listenMs = 240;

    struct Setting
    {
        LineSettings line;
        QVector<const FamilyDescriptor *> families;
    };

    FamilyDetector();

    // 420000 8N1, 416666 8N1 (TBS's figure for the same families), 250000
    // 8N1, 200000 8E2 (FastSBUS), 125000 8N1, 115200 8N1, 100000 8E2, 57600 8N1: each
    // with the families that use it.
    const QVector<Setting> &settings() const { return tried; }
    // "420000 8N1, 416666 8N1, …, 100000 8E2 or 57600 8N1"
    QString settingsText() const;

private:
    QVector<Setting> tried;
};

#endif
