// SPDX-License-Identifier: GPL-3.0-or-later
// A serial port's driver as sysfs tells it, and low-latency mode: asked of
// the driver on open, so that an FTDI adapter hands over each frame within
// about a millisecond instead of holding bytes for its 16 ms latency timer,
// and put back as it was on close.
#ifndef LINKSCOPE_LOWLATENCY_H
#define LINKSCOPE_LOWLATENCY_H

#include <QString>

// What sysfs tells of a tty: its driver ("ftdi_sio", "cp210x", "ch341-uart",
// "pl2303", "cdc_acm", "serial8250"), whether it is a USB adapter, and an
// FTDI chip's latency timer.
struct PortDriver
{
    QString name;            // empty where sysfs tells none, as for a pseudo-terminal
    bool usb = false;        // on a USB bus: its reads may come in bunches
    int latencyTimerMs = -1; // -1 where sysfs shows none
    bool isFtdi() const { return name == QLatin1String("ftdi_sio"); }
};

// The sysfs root: $LINKSCOPE_SYSFS_ROOT where set (tests lay a tree of
// their own there), else /sys.
QString sysfsRoot();

// The driver of tty ttyName ("ttyUSB0"; a device path is taken by its last part).
PortDriver portDriver(const QString &ttyName);

// The udev rule that sets an FTDI adapter's latency timer to 1 ms at every plug-in.
QString ftdiUdevRule();

class LowLatencyMode
{
public:
    enum Outcome {
        NotTried,
        On,              // the driver kept the flag
        NoneOnPty,       // a pseudo-terminal has no serial settings
        Refused,         // the driver took no serial settings, or would not keep the flag
    };

    LowLatencyMode() = default;
    LowLatencyMode(const LowLatencyMode &) = delete;
    LowLatencyMode &operator=(const LowLatencyMode &) = delete;
    // Puts the flags back, where restore() was not called.
    ~LowLatencyMode() { restore(); }

    // Sets ASYNC_LOW_LATENCY on the open terminal fd (of device devicePath)
    // where the driver takes it, keeping the flags as they were. A refusal
    // is no error: outcome() and said() tell what happened.
    void set(int fd, const QString &devicePath, bool pseudoTerminal);
    // Learns the port's driver only, for a run that leaves the port as it is.
    void leave(const QString &devicePath, bool pseudoTerminal);
    // Puts the flags back as they were, before the port is closed. A device
    // that went away takes nothing, and needs nothing: a new plug-in starts
    // from the driver's own settings.
    void restore();

    Outcome outcome() const { return result; }
    const PortDriver &driver() const { return info; }
    // The one line to say on standard error, without the program's name;
    // empty where the port was left as it was.
    QString said() const;
    // What makes an adapter's reads come as the frames do, for the note on
    // bunched frame times: low-latency mode or the udev rule, by driver.
    QString remedy() const;

    // The line said for an outcome on a port with this driver; the reason is
    // the system's, where the driver refused.
    static QString text(Outcome outcome, const PortDriver &driver, const QString &reason = QString());

private:
    PortDriver info;
    Outcome result = NotTried;
    QString reason;
    bool pty = false;
    int fd = -1;          // where the flags are to be put back
    quint64 device = 0;   // the device it was open on, so that no other gets them
    int savedFlags = 0;
};

#endif
