// SPDX-License-Identifier: GPL-3.0-or-later
// The families a reader looks for, arranged so that one lookup by a byte
// tells which of them may start a frame there, however many there are.
#ifndef LINKSCOPE_FAMILYSET_H
#define LINKSCOPE_FAMILYSET_H

#include "decode/families/familytable.h"
#include "decode/families/hott.h"

// Bytes a damaged frame is taken over, and a candidate waited for, where no
// family says more: SUMD's 32 channels, the longest of the window's five
// as receivers send them.
constexpr int longestSentFrame = hottFrameBytes(hottMostSentChannels);

class FamilySet
{
public:
    // At most this many families may start at one byte.
    static constexpr int maxCandidates = 4;

    explicit FamilySet(const QVector<const FamilyDescriptor *> &families);
    // The window's five families, as linkscope-dump reads by default.
    static const FamilySet &defaults();

    const QVector<const FamilyDescriptor *> &families() const { return chosen; }
    // The longest frame any of the families sends.
    int longestSent() const { return longest; }

    // The lengths a frame starting at data may have, each with its family,
    // in table order; undecided is set where a family needs more bytes to
    // tell. Returns how many lengths there are.
    inline int candidates(const char *data, int available, int *lengths, const FamilyDescriptor **which,
                          bool &undecided) const
    {
        undecided = false;
        if (available < 1) {
            undecided = true;
            return 0;
        }
        const Slot &slot = slotList[byteSlot[quint8(data[0])]];
        int count = 0;
        for (int i = 0; i < slot.count; ++i) {
            const int length = slot.families[i]->lengthAt(data, available);
            if (length < 0) {
                undecided = true;
            } else if (length > 0) {
                lengths[count] = length;
                which[count++] = slot.families[i];
            }
        }
        return count;
    }

private:
    struct Slot
    {
        const FamilyDescriptor *families[maxCandidates];
        int count = 0;
    };

    QVector<const FamilyDescriptor *> chosen;
    int longest = longestSentFrame;
    quint8 byteSlot[256]; // into slotList; slot 0 holds no family
    QVector<Slot> slotList;
};

#endif
