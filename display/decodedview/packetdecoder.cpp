// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/packetdecoder.h"

#include "decode/families/hott.h"
#include "decode/families/mpx.h"
#include "decode/families/nordax.h"
#include "decode/families/spektrum.h"
#include "display/decodedview/decoderstate.h"
#include "display/decodedview/familyrows.h"

namespace {

// The five families' rows, whose units state their lengths and checks.
struct WindowFamilies
{
    const FamilyDescriptor *mpx = familyNamed(QStringLiteral("mpx"));
    const FamilyDescriptor *mpx2 = familyNamed(QStringLiteral("mpx2"));
    const FamilyDescriptor *nordax = familyNamed(QStringLiteral("nordax"));
    const FamilyDescriptor *hott = familyNamed(QStringLiteral("hott"));
    const FamilyDescriptor *spektrum = familyNamed(QStringLiteral("spektrum"));
    bool contains(const FamilyDescriptor *family) const
    {
        return family == mpx || family == mpx2 || family == nordax || family == hott || family == spektrum;
    }
};

// known, where set, is the family the chunk was found to be a frame of,
// and knownCrcOk its check's verdict.
DecodedRows decode(const QByteArray &chunk, const FamilyDescriptor *known, bool knownCrcOk)
{
    static const WindowFamilies families;
    // A family the view has no rows for tells it nothing: every test is made.
    if (known && !families.contains(known))
        known = nullptr;
    DecodedRows result;
    result.cells.reserve(32);
    DecodeContext ctx(chunk, result);
    const int n = chunk.size();
    // A family already found is the only one tested, and its check stands.
    const auto tested = [known](const FamilyDescriptor *family) { return !known || known == family; };
    const auto checked = [&](const FamilyDescriptor *family) {
        return known ? knownCrcOk : family->check(chunk.constData(), n);
    };
    bool packetRecognised = false;
    lastPacketType = ctx.byteAt(0);

    if (tested(families.mpx) && n == mpxFrameBytes && lastPacketType == mpxType) {
        packetRecognised = true;
        decodeMpx(ctx, false, checked(families.mpx));
    }
    if (tested(families.mpx2) && n == mpx2FrameBytes && lastPacketType == mpx2Type) {
        packetRecognised = true;
        decodeMpx(ctx, true, checked(families.mpx2));
    }
    // Every 0xA3 chunk counts as recognised, decodable or not.
    if (tested(families.nordax) && lastPacketType == nordaxType) {
        packetRecognised = true;
        if (ctx.byteAt(1) == nordaxVersion && n == nordaxFrameBytes)
            decodeNordax(ctx, checked(families.nordax));
    }
    // A HoTT chunk, decodable or not, never goes on to the Spektrum test.
    // Past its end a byte counts as 0, so a chunk too short for a count
    // never has the length of one.
    const bool isHott = lastPacketType == hottType;
    if (tested(families.hott) && isHott && ctx.byteAt(1) == hottVersion && n == hottFrameBytes(ctx.byteAt(2))) {
        packetRecognised = true;
        decodeHott(ctx, checked(families.hott));
    }
    if (tested(families.spektrum) && !isHott && n == spektrumFrameBytes
        && (lastPacketType == spektrumType || lastPacketType == spektrumWrongType)) {
        packetRecognised = true;
        decodeSpektrum(ctx, checked(families.spektrum));
    }

    if (ctx.rowLabels.size() > 1)
        result.labels = ctx.rowLabels;
    result.recognised = packetRecognised;
    return result;
}

} // namespace

DecodedRows decodeChunk(const QByteArray &chunk)
{
    return decode(chunk, nullptr, false);
}

DecodedRows decodeFrame(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk)
{
    return decode(chunk, &family, crcOk);
}
