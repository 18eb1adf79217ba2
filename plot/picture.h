// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot's picture, drawn with Qt Charts: the channels with the
// failsafe band, the interval between frames, the link's LQ and RSSI where
// the family reports them (CRSF, GHST), a lane for each telemetry quantity
// chosen (battery voltage, current, altitude, RSSI), and the events with the silences,
// panel over panel on one time axis, saved as PNG, SVG or PDF. Several
// sources make a group of these panels each, under the source's name.
#ifndef LINKSCOPE_PLOT_PICTURE_H
#define LINKSCOPE_PLOT_PICTURE_H

#include <QByteArray>
#include <QSize>
#include <QString>

class PlotData;

enum class PictureFormat { Png, Svg, Pdf };

// Told by the file name's suffix, in any case; false for any other.
bool pictureFormatOf(const QString &path, PictureFormat &format);

// The pixel columns of the time axis in a picture of this size: as many
// buckets as the data should gather.
int plotColumns(const QSize &size);

// Draws data under title and writes it to the file path's bytes name (shown
// as name in messages). False, with why in error, where it cannot be written.
bool drawPicture(const PlotData &data, const QString &title, const QSize &size, PictureFormat format,
                 const QByteArray &path, const QString &name, QString &error);

#endif
