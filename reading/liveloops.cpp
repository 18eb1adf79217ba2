// SPDX-License-Identifier: GPL-3.0-or-later
// The run's live sources: a stream read as its bytes come, and a serial
// port, with --family auto trying each line setting in turn; each until it
// ends, the duration is over or a stop signal comes.
#include "reading/run.h"

#include "cli/messages.h"
#include "reading/familydetector.h"
#include "serial/earlierinput.h"
#include "serial/linesettings.h"
#include "serial/lowlatency.h"
#include "serial/portaccess.h"
#include "serial/portloss.h"

#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

// Runs a live source's loop until it quits, the duration is over or a
// signal comes; false if the live view could not start. Meanwhile a line
// that brings nothing settles what the framer keeps, as long as no byte
// waits to be read.
bool ReadingRun::runLoop(QEventLoop &loop, const std::function<bool()> &bytesWaiting)
{
    QSocketNotifier wake(stopWakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    // A run longer than a timer holds (about 24 days) is timed in parts.
    QTimer limit;
    limit.setSingleShot(true);
    const auto armLimit = [&] {
        const qint64 left = qint64(std::ceil(options.duration * 1000)) - runClock.elapsed();
        if (left <= 0)
            loop.quit();
        else
            limit.start(int(qMin<qint64>(left, qint64(1) << 30)));
    };
    QObject::connect(&limit, &QTimer::timeout, &loop, armLimit);
    if (options.duration > 0)
        armLimit();
    QTimer settle;
    QObject::connect(&settle, &QTimer::timeout, &loop, [&] {
        // A capture's partial frame is settled by the capture's own times
        // or its end, never by how fast a pipe brings it.
        if (!reading.wallTimed() || bytesWaiting())
            return;
        reading.settle();
        if (limits.stopNow())
            loop.quit();
    });
    settle.start(int(FrameAssembler::staleAfterMs / 2));
    if (!startWatching(loop))
        return false;
    const bool more = !reading.readAgainLater() || reading.readKeptAgain();
    if (more && !limits.stopNow())
        loop.exec();
    return true;
}

// A stream is read as its bytes come, so that the run can end on time and
// on a signal, whatever the stream does meanwhile.
int ReadingRun::readStream(int fd)
{
    QEventLoop loop;
    int status = 0;
    static char buffer[1 << 16];
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n < 0) {
            complain(QStringLiteral("cannot read %1: %2").arg(options.source, QString::fromLocal8Bit(std::strerror(errno))));
            status = 1;
        }
        if (n == 0)
            reading.endOfCapture();
        if (n <= 0 || !reading.read(buffer, int(n)))
            loop.quit();
    });
    if (!runLoop(loop, [fd] {
            int waiting = 0;
            return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
        }))
        return 1;
    return status;
}

int ReadingRun::readPort(const QString &device)
{
    // Bytes a terminal took in as typed text before now are no frames.
    const EarlierInput earlier(QFile::encodeName(device));
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot open %1: %2")
                     .arg(options.source, openFailureReason(port, device, portListFor(options.source))));
        return 1;
    }
    if (earlier.dropped() > 0)
        complain(QStringLiteral("dropped %1 bytes that waited in %2 before it was opened: its terminal settings "
                                "then (canonical mode) may have changed them")
                     .arg(earlier.dropped())
                     .arg(options.source));
    // Before any byte is timed: an adapter may hold the first ones back
    // for a while after its timer changes. Put back before the port closes,
    // whichever way the run ends.
    LowLatencyMode lowLatency;
    if (options.lowLatency)
        lowLatency.set(int(port.handle()), device, isPseudoTerminal(port));
    else
        lowLatency.leave(device, isPseudoTerminal(port));
    if (options.sayPortTiming && !lowLatency.said().isEmpty())
        complain(lowLatency.said());
    reading.setRemedy(lowLatency.remedy());
    if (options.autoDetect) {
        const int status = findFamily(port);
        if (status != 0 || limits.stopNow())
            return status;
    } else {
        QString warning;
        const QString failedSetting = applyLineSettings(port, options.line, &warning, options.source);
        if (!warning.isEmpty())
            complain(warning);
        if (!failedSetting.isEmpty()) {
            complain(QStringLiteral("cannot set the %1 of %2: %3").arg(failedSetting, options.source, port.errorString()));
            return 1;
        }
    }

    QEventLoop loop;
    QString lostBecause;
    PortLoss loss;
    QObject::connect(&port, &QSerialPort::readyRead, &loop, [&] {
        const QByteArray bytes = port.readAll();
        loss.bytesArrived();
        if (!bytes.isEmpty() && !reading.takeRead(bytes))
            loop.quit();
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError error) {
        const QString why = loss.lostBecause(port, error);
        if (!why.isEmpty()) {
            lostBecause = why;
            loop.quit();
        }
    });
    if (!runLoop(loop, [&port] { return bytesUnread(port); })) {
        lowLatency.restore();
        port.close();
        return 1;
    }
    lowLatency.restore();
    port.close();
    if (!lostBecause.isEmpty()) {
        lost = QStringLiteral("lost %1: %2").arg(options.source, lostBecause);
        return 1;
    }
    return 0;
}

// --family auto: each family's line settings in turn, until one family's
// frames come in a row at one of them; then the run goes on as if that
// family had been asked for, from the first byte read at that setting.
// Every byte read goes to the byte sink. Returns 0 when found or stopped,
// 1 when the port failed.
int ReadingRun::findFamily(QSerialPort &port)
{
    const FamilyDetector detector;
    QEventLoop loop;
    QSocketNotifier wake(stopWakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    if (options.duration > 0)
        QTimer::singleShot(qMax<qint64>(0, qint64(options.duration * 1000) - runClock.elapsed()), &loop, [&] {
            limits.ended = true;
            loop.quit();
        });
    QString failure, lostBecause;
    PortLoss loss;
    bool parityWarned = false;
    int listening = 0;
    const auto readWaiting = [&] {
        const QByteArray bytes = port.readAll();
        if (!bytes.isEmpty())
            loss.bytesArrived();
        if (!bytes.isEmpty() && !reading.takeRead(bytes))
            loop.quit();
        if (!reading.looking())
            loop.quit();
    };
    const auto listenAt = [&](int index) {
        listening = index;
        QString warning;
        const FamilyDetector::Setting &setting = detector.settings().at(index);
        const QString failed = applyLineSettings(port, setting.line, &warning, options.source);
        if (!failed.isEmpty()) {
            failure = QStringLiteral("cannot set the %1 of %2 to %3: %4")
                          .arg(failed, options.source, setting.line.text(), port.errorString());
            loop.quit();
        }
        // A pseudo-terminal keeps no parity: said once, not at every round.
        if (!warning.isEmpty() && !parityWarned) {
            complain(warning);
            parityWarned = true;
        }
        reading.listenAt(setting.line, setting.families);
    };
    QObject::connect(&port, &QSerialPort::readyRead, &loop, readWaiting);
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError error) {
        const QString why = loss.lostBecause(port, error);
        if (!why.isEmpty()) {
            lostBecause = why;
            loop.quit();
        }
    });
    bool nothingSaid = false;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, &loop, [&] {
        // What came at this setting is looked through as such before the next.
        readWaiting();
        if (!reading.looking() || limits.stopNow())
            return;
        const int next = (listening + 1) % detector.settings().size();
        if (next == 0 && !nothingSaid) {
            complain(QStringLiteral("no family found at %1; trying again").arg(detector.settingsText()));
            nothingSaid = true;
        }
        listenAt(next);
    });
    listenAt(0);
    step.start(FamilyDetector::listenMs);
    if (failure.isEmpty() && !limits.stopNow())
        loop.exec();
    step.stop();
    QObject::disconnect(&port, nullptr, &loop, nullptr);
    if (!failure.isEmpty()) {
        complain(failure);
        return 1;
    }
    if (!lostBecause.isEmpty()) {
        lost = QStringLiteral("lost %1: %2").arg(options.source, lostBecause);
        return 1;
    }
    return 0;
}
