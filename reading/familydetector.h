// SPDX-License-Identifier: GPL-3.0-or-later
// --family auto on a port: the line settings every family uses, tried in
// turn, each with the families that run at it.
#ifndef LINKSCOPE_READING_FAMILYDETECTOR_H
#define LINKSCOPE_READING_FAMILYDETECTOR_H

#include "decode/families/familytable.h"

class FamilyDetector
{
public:
    // How long each setting is listened to: several frames of the slowest family.
    static constexpr int listenMs = 300;

    struct Setting
    {
        LineSettings line;
        QVector<const FamilyDescriptor *> families;
    };

    FamilyDetector();

    // 420000 8N1, 416666 8N1 (TBS's figure for the same families), 200000
    // 8E2 (FastSBUS), 115200 8N1, 100000 8E2: each with the families that use it.
    const QVector<Setting> &settings() const { return tried; }
    // "420000 8N1, 416666 8N1, 200000 8E2, 115200 8N1 or 100000 8E2"
    QString settingsText() const;

private:
    QVector<Setting> tried;
};

#endif
