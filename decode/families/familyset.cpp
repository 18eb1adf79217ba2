// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/familyset.h"

FamilySet::FamilySet(const QVector<const FamilyDescriptor *> &families) : chosen(families)
{
    for (const FamilyDescriptor *family : families)
        longest = qMax(longest, family->longestSent);
    slotList.resize(1);
    for (int byte = 0; byte < 256; ++byte) {
        Slot slot;
        // Table order, so that where two families share a start byte the
        // longer frame comes first, as the window tests them (0xA2: MPX_V2's
        // 35 bytes, then Spektrum's 18).
        for (const FamilyDescriptor *family : allFamilies()) {
            if (family->framing == FamilyDescriptor::ByChecksum && families.contains(family)
                && family->startBytes.contains(char(byte)) && slot.count < maxCandidates)
                slot.families[slot.count++] = family;
        }
        byteSlot[byte] = 0;
        if (slot.count > 0) {
            byteSlot[byte] = quint8(slotList.size());
            slotList << slot;
        }
    }
}

const FamilySet &FamilySet::defaults()
{
    static const FamilySet set(defaultFamilies());
    return set;
}
