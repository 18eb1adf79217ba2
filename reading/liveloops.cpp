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

// A live source attached to the run's loop: its port or its stream's
// notifier, and whether bytes wait to be read.
struct ReadingRun::LiveWire
{
    Wire *wire = nullptr;
    std::unique_ptr<EarlierInput> earlier;
    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<QSocketNotifier> readable;
    LowLatencyMode lowLatency;
    PortLoss loss;
    std::function<bool()> waiting;
};

// Runs the live sources' loop until it quits, the duration is over or a
// signal comes; false if the live view could not start. Meanwhile a line
// that brings nothing settles what the framer keeps, as long as no byte
// waits to be read.
bool ReadingRun::runLoop(QEventLoop &loop, const std::vector<std::unique_ptr<LiveWire>> &attached)
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
        for (const auto &live : attached) {
            SourceReading &reading = *live->wire->reading;
            // A capture's partial frame is settled by the capture's own times
            // or its end, never by how fast a pipe brings it.
            if (live->wire->done || !reading.wallTimed() || live->waiting())
                continue;
            reading.settle();
            if (limits.stopNow())
                loop.quit();
        }
    });
    settle.start(int(FrameAssembler::staleAfterMs / 2));
    if (!startWatching(loop))
        return false;
    bool more = true;
    for (const auto &wire : wires)
        more = more && (!wire->reading->readAgainLater() || wire->reading->readKeptAgain());
    if (more && !limits.stopNow())
        loop.exec();
    return true;
}

int ReadingRun::readLive()
{
    QEventLoop loop;
    std::vector<std::unique_ptr<LiveWire>> attached;
    int status = 0;
    for (const auto &wire : wires) {
        attached.push_back(std::make_unique<LiveWire>());
        LiveWire &live = *attached.back();
        live.wire = wire.get();
        const bool ok = wire->opened.kind == Source::Port ? attachPort(*wire, live, loop)
                                                          : attachStream(*wire, live, loop);
        if (!ok) {
            status = 1;
            break;
        }
        if (limits.stopNow())
            break;
    }
    if (status == 0 && !limits.stopNow() && !allWiresDone() && !runLoop(loop, attached))
        status = 1;
    for (const auto &live : attached) {
        if (!live->port)
            continue;
        // Put back before the port closes, whichever way the run ended.
        live->lowLatency.restore();
        live->port->close();
    }
    for (const auto &wire : wires) {
        if (!wire->lost.isEmpty() || wire->readFailed)
            status = 1;
    }
    return status;
}

// A stream is read as its bytes come, so that the run can end on time and
// on a signal, whatever the stream does meanwhile.
bool ReadingRun::attachStream(Wire &wire, LiveWire &live, QEventLoop &loop)
{
    const int fd = wire.opened.fd;
    live.waiting = [fd] {
        int waiting = 0;
        return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
    };
    live.readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(live.readable.get(), &QSocketNotifier::activated, &loop, [this, &wire, &live, &loop] {
        static char buffer[1 << 16];
        const ssize_t n = ::read(wire.opened.fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n < 0) {
            complain(QStringLiteral("cannot read %1: %2")
                         .arg(wire.options.source, QString::fromLocal8Bit(std::strerror(errno))));
            wire.readFailed = true;
        }
        if (n == 0)
            wire.reading->endOfCapture();
        if (n > 0 && wire.reading->read(buffer, int(n)))
            return;
        if (limits.stopNow()) {
            loop.quit();
            return;
        }
        // This source is over; the others go on.
        live.readable->setEnabled(false);
        endWire(wire);
        if (allWiresDone())
            loop.quit();
    });
    return true;
}

bool ReadingRun::attachPort(Wire &wire, LiveWire &live, QEventLoop &loop)
{
    const QString &device = wire.opened.portPath;
    const QString &name = wire.options.source;
    // Bytes a terminal took in as typed text before now are no frames.
    live.earlier = std::make_unique<EarlierInput>(QFile::encodeName(device));
    live.port = std::make_unique<QSerialPort>();
    QSerialPort &port = *live.port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot open %1: %2").arg(name, openFailureReason(port, device, portListFor(name))));
        return false;
    }
    if (live.earlier->dropped() > 0)
        complain(QStringLiteral("dropped %1 bytes that waited in %2 before it was opened: its terminal settings "
                                "then (canonical mode) may have changed them")
                     .arg(live.earlier->dropped())
                     .arg(name));
    // Before any byte is timed: an adapter may hold the first ones back
    // for a while after its timer changes.
    if (wire.options.lowLatency)
        live.lowLatency.set(int(port.handle()), device, isPseudoTerminal(port));
    else
        live.lowLatency.leave(device, isPseudoTerminal(port));
    if (wire.options.sayPortTiming && !live.lowLatency.said().isEmpty())
        complain(live.lowLatency.said());
    wire.reading->setRemedy(live.lowLatency.remedy());
    if (wire.options.autoDetect) {
        if (findFamily(wire, port) != 0)
            return false;
    } else {
        QString warning;
        const QString failedSetting = applyLineSettings(port, wire.options.line, &warning, name);
        if (!warning.isEmpty())
            complain(warning);
        if (!failedSetting.isEmpty()) {
            complain(QStringLiteral("cannot set the %1 of %2: %3").arg(failedSetting, name, port.errorString()));
            return false;
        }
    }
    live.waiting = [&port] { return bytesUnread(port); };
    QObject::connect(&port, &QSerialPort::readyRead, &loop, [this, &wire, &live, &loop] {
        const QByteArray bytes = live.port->readAll();
        live.loss.bytesArrived();
        if (!bytes.isEmpty() && !wire.reading->takeRead(bytes))
            loop.quit();
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop,
                     [this, &wire, &live, &loop](QSerialPort::SerialPortError error) {
                         const QString why = live.loss.lostBecause(*live.port, error);
                         if (why.isEmpty() || wire.done)
                             return;
                         wire.lost = QStringLiteral("lost %1: %2").arg(wire.options.source, why);
                         // The other sources go on; the loss is said at the end.
                         QObject::disconnect(live.port.get(), nullptr, &loop, nullptr);
                         endWire(wire);
                         if (allWiresDone())
                             loop.quit();
                     });
    return true;
}

// --family auto: each family's line settings in turn, until one family's
// frames come in a row at one of them; then the run goes on as if that
// family had been asked for, from the first byte read at that setting.
// Every byte read goes to the byte sink. Returns 0 when found or stopped,
// 1 when the port failed.
int ReadingRun::findFamily(Wire &wire, QSerialPort &port)
{
    SourceReading &reading = *wire.reading;
    const QString &source = wire.options.source;
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
        const QString failed = applyLineSettings(port, setting.line, &warning, source);
        if (!failed.isEmpty()) {
            failure = QStringLiteral("cannot set the %1 of %2 to %3: %4")
                          .arg(failed, source, setting.line.text(), port.errorString());
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
        wire.lost = QStringLiteral("lost %1: %2").arg(source, lostBecause);
        return 1;
    }
    return 0;
}
