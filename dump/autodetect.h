// SPDX-License-Identifier: GPL-3.0-or-later
// --family auto: the line settings every family uses, tried in turn, and
// the family whose frames come at one of them.
#ifndef LINKSCOPE_DUMP_AUTODETECT_H
#define LINKSCOPE_DUMP_AUTODETECT_H

#include "decode/families/familytable.h"
#include "decode/streamframer.h"

#include <memory>

class FamilyDetector
{
public:
    // How long each setting is listened to: several frames of the slowest family.
    static constexpr int listenMs = 300;
    // Frames of one family that pass their checks, or that come at all where
    // there is no check, before it is taken.
    static constexpr int framesToFind = 5;

    struct Setting
    {
        LineSettings line;
        QVector<const FamilyDescriptor *> families;
    };

    FamilyDetector();

    // 420000 8N1, 416666 8N1 (TBS's figure for the same families), 115200
    // 8N1, 100000 8E2: each with the families that use it.
    const QVector<Setting> &settings() const { return tried; }
    // Listens at setting index from now on, forgetting what came before.
    void listenAt(int index);
    int listening() const { return at; }
    void feed(const QByteArray &bytes, qint64 nowMs, double quietMs);
    // The family found at the setting listened to, or nullptr.
    const FamilyDescriptor *found() const;
    // "420000 8N1, 416666 8N1, 115200 8N1 or 100000 8E2"
    QString settingsText() const;

private:
    QVector<Setting> tried;
    int at = 0;
    std::unique_ptr<StreamFramer> framer;
    QVector<QPair<const FamilyDescriptor *, int>> passed;
};

#endif
