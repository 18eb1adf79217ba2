// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump --watch in a real terminal: tmux runs it in a shell on a
// pseudo-terminal that the test feeds, and the screen is read back.
#include "decode/families/familytable.h"
#include "decode/families/packing.h"
#include "packets.h"
#include "pty.h"
#include "timedwriter.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace packets;

namespace {

constexpr int deadlineMs = 30000;

// A shell in a tmux session of its own, on a server no one else uses.
class Terminal
{
public:
    Terminal(int width, int height)
        : socket(QStringLiteral("linkscope-watch-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made))
    {
        tmux({"new-session", "-d", "-s", "watch", "-x", QString::number(width), "-y", QString::number(height),
              "env PS1='$ ' /bin/sh"});
        socketPath = tmux({"display", "-p", "#{socket_path}"}).trimmed();
    }
    // The server leaves its socket behind.
    ~Terminal()
    {
        tmux({"kill-server"});
        if (!socketPath.isEmpty())
            QFile::remove(socketPath);
    }

    QString tmux(const QStringList &arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("TMUX"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("tmux"), QStringList{"-L", socket, "-f", "/dev/null"} + arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    QString screen() const { return tmux({"capture-pane", "-p", "-t", "watch"}); }
    void type(const QString &text) const
    {
        tmux({"send-keys", "-t", "watch", "-l", text});
        tmux({"send-keys", "-t", "watch", "Enter"});
    }
    void press(const QString &key) const { tmux({"send-keys", "-t", "watch", key}); }
    void resize(int width, int height) const
    {
        tmux({"resize-window", "-t", "watch", "-x", QString::number(width), "-y", QString::number(height)});
    }
    bool alternateScreen() const { return tmux({"display", "-p", "-t", "watch", "#{alternate_on}"}).trimmed() == "1"; }

private:
    static int made;
    QString socket;
    QString socketPath;
};
int Terminal::made = 0;

// The channel lines on the screen: number, then value, lowest and highest.
QMap<int, QStringList> channels(const QString &screen)
{
    static const QRegularExpression line(QStringLiteral("^ *(\\d+) +(-|\\d+) \\[[-.|<>#]+\\] +(-|\\d+) +(-|\\d+)$"));
    QMap<int, QStringList> found;
    for (const QString &text : screen.split('\n')) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            found.insert(match.captured(1).toInt(), {match.captured(2), match.captured(3), match.captured(4)});
    }
    return found;
}

QStringList values(const QString &screen)
{
    QStringList shown;
    for (const QStringList &fields : channels(screen))
        shown << fields.first();
    return shown;
}

QStringList repeated(int count, const QString &value)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << value;
    return list;
}

int widest(const QString &screen)
{
    int width = 0;
    for (const QString &line : screen.split('\n'))
        width = qMax(width, line.size());
    return width;
}

QString command(const PseudoTerminal &line, const QString &recording)
{
    return QStringLiteral("'%1' --watch %2 --write '%3'; echo status=$?")
        .arg(QStringLiteral(LINKSCOPE_DUMP), line.slavePath(), recording);
}

} // namespace

class tst_Watch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsTheValuesAndTheBanners();
    void pausesFitsAndGivesTheTerminalBack();
    void crsfFailsafeShows();
    void saysWhileReadsComeInBunches();
    void showsThePollsAndReplies();

private:
    QTemporaryDir folder;
};

void tst_Watch::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty(), "tmux is missing (Debian package tmux)");
}

void tst_Watch::showsTheValuesAndTheBanners()
{
    PseudoTerminal line;
    Terminal terminal(80, 24);
    terminal.type(command(line, folder.filePath("values.bin")));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame yet"), deadlineMs);
    QVERIFY(terminal.alternateScreen());

    // CRSF frames are no frames of the families looked for: the way out is named.
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    QVERIFY(line.write(familyNamed("crsf")->encode(request).repeated(12)));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame in 312 bytes: try --family auto"), deadlineMs);

    // Channel 1 of HOTT goes from 1000 to 1500 µs: lowest 1000, highest 1500.
    QVERIFY(line.write(hott({8000, 12000, 16000, 9872, 13000, 10000, 14400, 8800})));
    QVERIFY(line.write(hott({12000, 12000, 16000, 9872, 13000, 10000, 14400, 8800})));
    QTRY_COMPARE_WITH_TIMEOUT(values(terminal.screen()),
                              QStringList({"1500", "1500", "2000", "1234", "1625", "1250", "1800", "1100"}), deadlineMs);
    QCOMPARE(channels(terminal.screen()).value(1), QStringList({"1500", "1000", "1500"}));
    QVERIFY(terminal.screen().contains("HOTT"));

    const QVector<quint16> spektrumWords{spektrumWord(0, 1024), spektrumWord(1, 2047), spektrumWord(2, 1),
                                         spektrumWord(3, 200),  spektrumWord(4, 1500), spektrumWord(5, 600),
                                         spektrumWord(6, 1400)};
    QVERIFY(line.write(spektrum(spektrumWords, 0x02)));
    QTRY_COMPARE_WITH_TIMEOUT(values(terminal.screen()),
                              QStringList({"1500", "2083", "917", "1030", "1771", "1258", "1714"}), deadlineMs);
    QVERIFY(terminal.screen().contains("SPEKTRUM"));

    QVERIFY(line.write(mpx({0x0800, 0x0400, 0x0C00, 0x0FFF, 0x0001, 0x0800, 0x0800, 0x0800, 0x0800, 0x0800, 0x0800,
                            0x0800})));
    QTRY_COMPARE_WITH_TIMEOUT(values(terminal.screen()),
                              QStringList({"1500", "1150", "1850", "2199", "800", "1500", "1500", "1500", "1500",
                                           "1500", "1500", "1500"}),
                              deadlineMs);

    // A HoTT failsafe frame brings the banner, the next ordinary frame takes
    // it away; the channels it does not carry keep their values.
    QVERIFY(line.write(withCrc(fromHex("A8 81 02 2E E0 22 60"))));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("RECEIVER IN FAILSAFE"), deadlineMs);
    QCOMPARE(values(terminal.screen()), QStringList({"1500", "1100", "2000", "1234", "1625", "1250", "1800", "1100"}));
    QVERIFY(line.write(hott(QVector<quint16>(8, 12000))));
    QTRY_VERIFY_WITH_TIMEOUT(!terminal.screen().contains("RECEIVER IN FAILSAFE"), deadlineMs);
    QVERIFY(terminal.screen().contains("failsafe frames 1"));

    // Half a second without a frame is silence.
    static const QRegularExpression silence(QStringLiteral("NO FRAMES FOR (\\d+\\.\\d) s"));
    QRegularExpressionMatch said;
    QTRY_VERIFY_WITH_TIMEOUT((said = silence.match(terminal.screen())).hasMatch(), deadlineMs);
    QVERIFY2(said.captured(1).toDouble() >= 0.5, qPrintable(said.captured(0)));

    terminal.press("q");
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("status=0"), deadlineMs);
}

void tst_Watch::pausesFitsAndGivesTheTerminalBack()
{
    PseudoTerminal line;
    Terminal terminal(80, 24);
    const QString recording = folder.filePath("paused.bin");
    terminal.type(QStringLiteral("stty -g > '%1'").arg(folder.filePath("modes")));
    terminal.type(command(line, recording));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame yet"), deadlineMs);

    // A receiver of 16 channels sends on, every 20 ms.
    QByteArray sent;
    QByteArray frame = hott(QVector<quint16>(16, 12000));
    QTimer receiver;
    QObject::connect(&receiver, &QTimer::timeout, [&] {
        QVERIFY(line.write(frame));
        sent += frame;
    });
    receiver.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(values(terminal.screen()) == repeated(16, "1500")
                                 && !terminal.screen().contains("NO FRAMES"),
                             deadlineMs);

    // Paused, the screen holds while frames, damaged ones among them, are
    // counted and recorded.
    terminal.press("Space");
    QString held;
    QTRY_VERIFY_WITH_TIMEOUT((held = terminal.screen()).contains("PAUSED") && held == terminal.screen(), deadlineMs);
    // Damaged frames count where they follow a frame at once, as they would
    // on a line that keeps sending.
    const QByteArray burst = frame + corrupted(hott(QVector<quint16>(16, 9000))).repeated(5);
    QVERIFY(line.write(burst));
    sent += burst;
    const qint64 withDamaged = sent.size();
    frame = hott(QVector<quint16>(16, 13600));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > withDamaged, deadlineMs);
    QCOMPARE(terminal.screen(), held);

    // At 40 columns the bars shrink; 14 rows cannot hold 16 channels.
    terminal.resize(40, 14);
    static const QRegularExpression hiddenCount(QStringLiteral("(\\d+) channels hidden"));
    QTRY_VERIFY_WITH_TIMEOUT(hiddenCount.match(terminal.screen()).hasMatch(), deadlineMs);
    QString narrow = terminal.screen();
    QVERIFY2(widest(narrow) <= 40 && narrow.contains("PAUSED"), qPrintable(narrow));
    QCOMPARE(channels(narrow).size() + hiddenCount.match(narrow).captured(1).toInt(), 16);
    QCOMPARE(channels(narrow).value(1), QStringList({"1500", "1500", "1500"}));

    terminal.press("Space");
    QTRY_VERIFY2_WITH_TIMEOUT((narrow = terminal.screen()).contains("CRC failures 5") && values(narrow).value(0) == "1700",
                              qPrintable(narrow), deadlineMs);
    QCOMPARE(channels(narrow).value(1), QStringList({"1700", "1500", "1700"}));
    terminal.resize(200, 50);
    QTRY_COMPARE_WITH_TIMEOUT(values(terminal.screen()), repeated(16, "1700"), deadlineMs);
    QVERIFY(widest(terminal.screen()) <= 200);

    receiver.stop();
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(recording).size(), qint64(sent.size()), deadlineMs);
    terminal.press("q");
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("status=0"), deadlineMs);
    QVERIFY(!terminal.alternateScreen());
    QVERIFY2(terminal.screen().contains("CRC failures: 5"), qPrintable(terminal.screen()));
    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sent);
    // The shell reads lines and echoes them as before.
    terminal.type(QStringLiteral("stty -g | cmp -s - '%1' && echo restored-$((6 * 7))").arg(folder.filePath("modes")));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("restored-42"), deadlineMs);
}

// A CRSF receiver in failsafe stops its channel frames and sends link
// statistics with LQ 0 on: the banner shows, the channels dim and the
// view says how long ago they stopped; channels coming back end it. The
// flight controller's battery shows below the channels, with its age.
void tst_Watch::crsfFailsafeShows()
{
    PseudoTerminal line;
    Terminal terminal(80, 30);
    terminal.type(QStringLiteral("'%1' --watch --family crsf %2; echo status=$?")
                      .arg(QStringLiteral(LINKSCOPE_DUMP), line.slavePath()));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame yet"), deadlineMs);

    const FamilyDescriptor *crsf = familyNamed(QStringLiteral("crsf"));
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    bool failsafe = false;
    int tick = 0;
    // BATTERY: 16.8 V, 12.3 A, 1234 mAh, 67 %.
    const QByteArray payload = QByteArray::fromHex("0800a8007b0004d243");
    const QByteArray battery = QByteArray::fromHex("c80a") + payload + char(crc8DvbS2(payload.constData(), payload.size()));
    QTimer receiver;
    QObject::connect(&receiver, &QTimer::timeout, [&] {
        if (!failsafe)
            QVERIFY(line.write(crsf->encode(request)));
        if (tick++ % 5 == 0)
            QVERIFY(line.write(crsf->linkFrame(failsafe)));
        if (tick % 5 == 3 && !failsafe)
            QVERIFY(line.write(battery));
    });
    receiver.start(20);
    // Channel lines drawn with the terminal's dim attribute. tmux gives an
    // attribute where it changes, so it is followed line by line.
    const auto dimmedChannels = [&] {
        static const QRegularExpression attributes(QStringLiteral("\\x1b\\[([0-9;]*)m"));
        int dimmed = 0;
        bool dim = false;
        for (QString text : terminal.tmux({"capture-pane", "-e", "-p", "-t", "watch"}).split('\n')) {
            QRegularExpressionMatch match;
            while ((match = attributes.match(text)).hasMatch() && match.capturedStart() == 0) {
                for (const QString &code : match.captured(1).split(';')) {
                    if (code.isEmpty() || code == "0" || code == "22")
                        dim = false;
                    else if (code == "2")
                        dim = true;
                }
                text.remove(0, match.capturedLength());
            }
            dimmed += dim && channels(text).size() == 1;
            // Any change later in the line holds for the next.
            for (auto it = attributes.globalMatch(text); it.hasNext();) {
                for (const QString &code : it.next().captured(1).split(';'))
                    dim = code == "2" || (dim && !code.isEmpty() && code != "0" && code != "22");
            }
        }
        return dimmed;
    };
    QTRY_VERIFY_WITH_TIMEOUT(values(terminal.screen()) == repeated(16, "1500")
                                 && terminal.screen().contains("LQ 100 %"),
                             deadlineMs);
    QVERIFY(!terminal.screen().contains("FAILSAFE"));
    QCOMPARE(dimmedChannels(), 0);
    static const QRegularExpression voltage(QStringLiteral("voltage 16\\.8 V (\\d+\\.\\d)s"));
    QTRY_VERIFY_WITH_TIMEOUT(voltage.match(terminal.screen()).hasMatch(), deadlineMs);
    QVERIFY2(terminal.screen().contains(QRegularExpression(QStringLiteral("remaining 67 % \\d+\\.\\ds"))),
             qPrintable(terminal.screen()));

    failsafe = true;
    static const QRegularExpression stopped(QStringLiteral("CHANNELS STOPPED (\\d+\\.\\d) s AGO"));
    QRegularExpressionMatch said;
    QString screen;
    QTRY_VERIFY_WITH_TIMEOUT((said = stopped.match(screen = terminal.screen())).hasMatch()
                                 && said.captured(1).toDouble() >= 1.0,
                             deadlineMs);
    QVERIFY2(screen.contains("RECEIVER IN FAILSAFE") && screen.contains("LQ 0 %") && !screen.contains("NO FRAMES"),
             qPrintable(screen));
    QCOMPARE(values(screen), repeated(16, "1500"));
    QTRY_COMPARE_WITH_TIMEOUT(dimmedChannels(), 16, deadlineMs);
    // The battery stopped with the channels: its value stays, and ages.
    QTRY_VERIFY_WITH_TIMEOUT(voltage.match(terminal.screen()).captured(1).toDouble() >= 1.0, deadlineMs);

    failsafe = false;
    QTRY_VERIFY_WITH_TIMEOUT(!(screen = terminal.screen()).contains("FAILSAFE") && !screen.contains("STOPPED"),
                             deadlineMs);
    QTRY_COMPARE_WITH_TIMEOUT(dimmedChannels(), 0, deadlineMs);
    receiver.stop();
    terminal.press("q");
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("status=0"), deadlineMs);
    QVERIFY2(terminal.screen().contains(QRegularExpression(QStringLiteral("failsafe frames: [1-9]"))),
             qPrintable(terminal.screen()));
}

// Frames every 9 ms held for a 16 ms latency timer: one line says so, and
// goes once the frames come as they fall due.
void tst_Watch::saysWhileReadsComeInBunches()
{
    PseudoTerminal line;
    Terminal terminal(100, 24);
    terminal.type(command(line, folder.filePath("bunched.bin")));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame yet"), deadlineMs);
    const QString said = QStringLiteral("frame times bunched (reads every 16 ms): rate right, single intervals not");
    const QByteArray frame = hott(QVector<quint16>(8, 12000));
    {
        TimedWriter adapter(line.masterDescriptor(), frame, 9, 16, 60);
        QElapsedTimer waited;
        waited.start();
        while (!terminal.screen().contains(said) && waited.elapsed() < deadlineMs)
            QTest::qWait(100);
        // A machine that could not even write at steady ticks played no adapter.
        if (!terminal.screen().contains(said) && adapter.lateShare() > 0.2) {
            terminal.press("q");
            QSKIP("the machine was too busy to play a 16 ms timer");
        }
        QVERIFY2(terminal.screen().contains(said), qPrintable(terminal.screen()));
    }
    {
        TimedWriter receiver(line.masterDescriptor(), frame, 9, 0, 60);
        QTRY_VERIFY_WITH_TIMEOUT(!terminal.screen().contains("frame times bunched"), deadlineMs);
    }
    terminal.press("q");
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("status=0"), deadlineMs);
    QVERIFY2(terminal.screen().contains("frame times are bunched by the adapter (reads about every 16 ms)"),
             qPrintable(terminal.screen()));
}

// SmartPort polls and a sensor's replies on the wire: the counts and the
// sensor's line come as they are read.
void tst_Watch::showsThePollsAndReplies()
{
    PseudoTerminal line;
    Terminal terminal(100, 24);
    terminal.type(QStringLiteral("'%1' --watch --family smartport %2; echo status=$?")
                      .arg(QStringLiteral(LINKSCOPE_DUMP), line.slavePath()));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("no frame yet"), deadlineMs);
    // 16.80 V from application id 0x0210, answering the poll of 0x1B.
    const QByteArray answered = fromHex("7E 1B 10 10 02 90 06 00 00 47");
    QVERIFY(line.write(answered + answered + fromHex("7E A1") + answered));
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains(
                                 "polls 4  replies 3 (late 0, over 2.5 ms)  missing replies 1  replies without a poll 0"),
                             deadlineMs);
    const QString screen = terminal.screen();
    QVERIFY2(screen.contains("  0x1B       3       3     0       0       0"), qPrintable(screen));
    QVERIFY2(screen.contains("  polled, never answered: 1 (0xA1)"), qPrintable(screen));
    terminal.press("q");
    QTRY_VERIFY_WITH_TIMEOUT(terminal.screen().contains("status=0"), deadlineMs);
}

QTEST_GUILESS_MAIN(tst_Watch)
#include "tst_watch.moc"
