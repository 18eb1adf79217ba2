// SPDX-License-Identifier: GPL-3.0-or-later
// The capture reader on short files of every form, on dumps the real xxd and
// hexdump write, and on every way a file can break its form; each read whole
// and in small blocks, which must make no difference.
#include "decode/capture/capturereader.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using Times = QVector<double>;
Q_DECLARE_METATYPE(CaptureReader::Input)
Q_DECLARE_METATYPE(CaptureReader::Form)

namespace {

struct Decoded
{
    QByteArray bytes;
    Times times;
    CaptureReader::Form form = CaptureReader::Undecided;
    qint64 leftOut = 0;
    qint64 errorLine = 0;
    QString error;
};

// Reads contents whole (block 0) or fed in blocks of the given size.
Decoded decode(const QByteArray &contents, int block, CaptureReader::Input input = CaptureReader::Detect)
{
    CaptureReader reader(input);
    Decoded result;
    if (block == 0) {
        reader.readAll(contents);
    } else {
        for (int at = 0; at < contents.size(); at += block) {
            reader.feed(contents.constData() + at, qMin(block, int(contents.size()) - at));
            result.bytes += reader.takeBytes();
            result.times += reader.takeTimes();
        }
        reader.finish();
    }
    result.bytes += reader.takeBytes();
    result.times += reader.takeTimes();
    result.form = reader.form();
    result.leftOut = reader.leftOutBytes();
    result.errorLine = reader.errorLine();
    result.error = reader.errorString();
    return result;
}

const QByteArray timeValue = "Time [s],Value,Parity Error,Framing Error\n";
const QByteArray nameType = "name,type,start_time,duration,data\n";
const QByteArray frameBytes = QByteArray::fromHex("a801082f50");

} // namespace

class tst_CaptureReader : public QObject
{
    Q_OBJECT

private slots:
    void shortFiles_data();
    void shortFiles();
    void realTools_data();
    void realTools();
    void brokenFiles_data();
    void brokenFiles();
    void inputNames();
    void brokenLineGivesNoByte_data();
    void brokenLineGivesNoByte();
    void decidesAsSoonAsItCan_data();
    void decidesAsSoonAsItCan();
    void backwardTimesNamed();
};

void tst_CaptureReader::shortFiles_data()
{
    QTest::addColumn<CaptureReader::Input>("input");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<CaptureReader::Form>("form");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Times>("times");
    QTest::addColumn<qint64>("leftOut");
    const auto detect = CaptureReader::Detect;
    const QByteArray a801 = QByteArray::fromHex("a801");
    const Times t12{0.00452588, 0.00461268};

    QTest::newRow("Time [s] form, hex") << detect
        << timeValue + "0.004525880000000,0xA8,,\n0.004612680000000,0x01,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("name,type form, error column") << detect
        << QByteArray("name,type,start_time,duration,data,error\n\"Async Serial\",\"data\",0.00452588,8.68e-05,0xA8,\n"
                      "\"Async Serial\",\"data\",0.00461268,8.68e-05,0x01,\n")
        << CaptureReader::SaleaeNameType << a801 << t12 << qint64(0);
    QTest::newRow("decimal") << detect << timeValue + "0.00452588,168,,\n0.00461268,1,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("binary") << detect << timeValue + "0.00452588,0b10101000,,\n0.00461268,0B1,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("quoted characters") << detect
        << nameType + "a,data,1,0,'A'\na,data,2,0,\"B\"\na,data,3,0,'\\n'\na,data,4,0,'\\xA8'\n"
                      "a,data,5,0,' '\na,data,6,0,'''\na,data,7,0,\"\"\"\"\na,data,8,0,\"\xC3\xA9\"\n"
        << CaptureReader::SaleaeNameType << QByteArray("AB\n\xA8 '\"\xE9") << Times{1, 2, 3, 4, 5, 6, 7, 8}
        << qint64(0);
    QTest::newRow("parity and framing errors left out") << detect
        << timeValue + "0.00452588,0xA8,,\n0.0046,0x55,Error,\n0.0047,0x55,,Error\n0.00461268,0x01,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(2);
    QTest::newRow("error column left out, other rows skipped") << detect
        << QByteArray("name,type,start_time,duration,data,error\na,data,0.00452588,0,0xA8,\n"
                      "a,data,0.0046,0,0x1FF,framing\na,break,0.0047,0,,\na,data,0.00461268,0,0x01,\n")
        << CaptureReader::SaleaeNameType << a801 << t12 << qint64(1);
    QTest::newRow("extra column named in UTF-8") << detect
        << QByteArray("name,type,start_time,duration,data,Gr\xC3\xB6\xC3\x9F" "e\na,data,0.00452588,0,0xA8,1\n")
        << CaptureReader::SaleaeNameType << QByteArray("\xA8") << Times{0.00452588} << qint64(0);
    QTest::newRow("CRLF, byte-order mark, negative time") << detect
        << "\xEF\xBB\xBF" + nameType.left(nameType.size() - 1) + "\r\na,data,-0.5,0,0xA8\r\na,data,0.25,0,1\r\n"
        << CaptureReader::SaleaeNameType << a801 << Times{-0.5, 0.25} << qint64(0);
    QTest::newRow("quoted fields, CRLF") << detect
        << QByteArray("\"Time [s]\",\"Value\",\"Parity Error\",\"Framing Error\"\r\n"
                      "\"0.00452588\",\"0xA8\",\"\",\"\"\r\n\"0.00461268\", \"1\" ,\"\",\"\"\r\n")
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("quoted newline over the line end") << detect << nameType + "a,data,1,0,\"\n\"\na,data,2,0,0x01\n"
        << CaptureReader::SaleaeNameType << QByteArray("\n\x01") << Times{1, 2} << qint64(0);
    QTest::newRow("CSV forced raw") << CaptureReader::ForceRaw << timeValue << CaptureReader::Raw << timeValue
        << Times() << qint64(0);

    QTest::newRow("pairs with spaces") << detect << QByteArray("A8 01 08 2F 50\n") << CaptureReader::HexPairs
        << frameBytes << Times() << qint64(0);
    QTest::newRow("pairs run together, no newline") << detect << QByteArray("a801082f50")
        << CaptureReader::HexPairs << frameBytes << Times() << qint64(0);
    QTest::newRow("0x list, CRLF") << detect << QByteArray("  0xA8, 0x01, 0x8,\r\n0x2F, 0x50\r\n")
        << CaptureReader::HexPairs << frameBytes << Times() << qint64(0);
    QTest::newRow("xxd") << detect << QByteArray("00000000: a801 082f  .../\n00000004: 50            P\n")
        << CaptureReader::Xxd << frameBytes << Times() << qint64(0);
    QTest::newRow("hexdump -C, repeat") << detect
        << QByteArray("00000000  a8 01  |..|\n*\n00000006  08 2f 50  |./P|\n00000009\n") << CaptureReader::HexdumpC
        << QByteArray::fromHex("a801a801a801082f50") << Times() << qint64(0);

    QTest::newRow("raw frame") << detect << frameBytes << CaptureReader::Raw << frameBytes << Times() << qint64(0);
    QTest::newRow("raw, starts with printable text") << detect << "LinkScope capture\n" + frameBytes
        << CaptureReader::Raw << "LinkScope capture\n" + frameBytes << Times() << qint64(0);
    const QByteArray hexLooking = QByteArray("a8 01\n").repeated(500);
    QTest::newRow("raw, starts with hex-looking lines") << detect << hexLooking + frameBytes << CaptureReader::Raw
        << hexLooking + frameBytes << Times() << qint64(0);
    QTest::newRow("blank first line") << detect << "\n \n" + timeValue + "0.00452588,0xA8,,\n0.00461268,0x01,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("title line in UTF-8") << detect << "Messung \xC3\xBC" "ber UART\n" + nameType
        + "a,data,0.00452588,0,0xA8\na,data,0.00461268,0,1\n" << CaptureReader::SaleaeNameType << a801 << t12 << qint64(0);
    QTest::newRow("';' and decimal commas") << detect
        << QByteArray("Time [s];Value;Parity Error;Framing Error\n0,00452588;0xA8;;\n0,00461268;0x01;;\n")
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("tab separated") << detect
        << QByteArray("name\ttype\tstart_time\tduration\tdata\na\tdata\t0.00452588\t0\t0xA8\n"
                      "a\tdata\t0.00461268\t0\t1\n")
        << CaptureReader::SaleaeNameType << a801 << t12 << qint64(0);
    QTest::newRow("CR-only line ends") << detect
        << QByteArray(timeValue).replace('\n', '\r') + "0.00452588,0xA8,,\r0.00461268,0x01,,\r"
        << CaptureReader::SaleaeTimeValue << a801 << t12 << qint64(0);
    QTest::newRow("times running backwards held") << detect << timeValue + "0.00461268,0xA8,,\n0.00452588,0x01,,\n"
        << CaptureReader::SaleaeTimeValue << a801 << Times{0.00461268, 0.00461268} << qint64(0);
    QTest::newRow("xxd -i with its declaration") << detect
        << QByteArray("unsigned char cap_bin[] = {\n  0xa8, 0x01, 0x08, 0x2f, 0x50\n};\nunsigned int cap_bin_len = 5;\n")
        << CaptureReader::XxdInclude << frameBytes << Times() << qint64(0);
    QTest::newRow("empty") << detect << QByteArray() << CaptureReader::Raw << QByteArray() << Times() << qint64(0);
}

void tst_CaptureReader::shortFiles()
{
    QFETCH(CaptureReader::Input, input);
    QFETCH(QByteArray, contents);
    QFETCH(CaptureReader::Form, form);
    QFETCH(QByteArray, bytes);
    QFETCH(Times, times);
    QFETCH(qint64, leftOut);
    for (int block : {0, 1, 7}) {
        const Decoded decoded = decode(contents, block, input);
        QCOMPARE(decoded.error, QString());
        QCOMPARE(decoded.form, form);
        QCOMPARE(decoded.bytes.toHex(' '), bytes.toHex(' '));
        QCOMPARE(decoded.times, times);
        QCOMPARE(decoded.leftOut, leftOut);
    }
}

void tst_CaptureReader::realTools_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CaptureReader::Form>("form");
    QTest::addColumn<int>("skip");
    QTest::newRow("xxd") << "xxd" << QStringList() << CaptureReader::Xxd << 0;
    QTest::newRow("xxd -p") << "xxd" << QStringList{"-p"} << CaptureReader::HexPairs << 0;
    QTest::newRow("xxd -i") << "xxd" << QStringList{"-i"} << CaptureReader::HexPairs << 0;
    QTest::newRow("xxd -i of a file") << "xxd" << QStringList{"-i", "FILE"} << CaptureReader::XxdInclude << 0;
    QTest::newRow("od -An -v -tx1") << "od" << QStringList{"-An", "-v", "-tx1"} << CaptureReader::HexPairs << 0;
    QTest::newRow("xxd -u -g1 -c8") << "xxd" << QStringList{"-u", "-g1", "-c8"} << CaptureReader::Xxd << 0;
    QTest::newRow("xxd -a (repeats)") << "xxd" << QStringList{"-a"} << CaptureReader::Xxd << 0;
    QTest::newRow("xxd -s 5") << "xxd" << QStringList{"-s", "5"} << CaptureReader::Xxd << 5;
    QTest::newRow("hexdump -C") << "hexdump" << QStringList{"-C"} << CaptureReader::HexdumpC << 0;
}

void tst_CaptureReader::realTools()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(CaptureReader::Form, form);
    QFETCH(int, skip);
    // Past the detection window, with a run of zeros for the repeat lines.
    QRandomGenerator random(26);
    QByteArray sample(6000, '\0');
    for (int i = 0; i < sample.size(); ++i)
        sample[i] = i >= 3000 && i < 3500 ? '\0' : char(random.bounded(256));
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("sample.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(sample) == sample.size());
    file.close();
    QProcess process;
    // xxd -i names no array when it reads standard input.
    if (arguments.contains(QStringLiteral("FILE")))
        arguments.replaceInStrings(QStringLiteral("FILE"), file.fileName());
    else
        process.setStandardInputFile(file.fileName());
    process.start(tool, arguments);
    QVERIFY2(process.waitForFinished(30000), qPrintable(tool + QStringLiteral(" did not run: ") + process.errorString()));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray dump = process.readAllStandardOutput();
    if (arguments.contains(QStringLiteral("-a")) || tool == QLatin1String("hexdump"))
        QVERIFY(dump.contains("\n*\n"));

    for (int block : {0, 1000}) {
        const Decoded decoded = decode(dump, block);
        QCOMPARE(decoded.error, QString());
        QCOMPARE(decoded.form, form);
        QCOMPARE(decoded.bytes.toHex(), sample.mid(skip).toHex());
    }
}

void tst_CaptureReader::brokenFiles_data()
{
    QTest::addColumn<CaptureReader::Input>("input");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<QString>("error");
    const auto detect = CaptureReader::Detect;
    const QString csv = " (read as Saleae CSV (Time [s],Value,...), recognised by its content)";
    const QString pairs = " (read as hex pairs, recognised by its content)";
    const QString xxd = " (read as xxd dump, recognised by its content)";
    const QString hexdump = " (read as hexdump -C dump, recognised by its content)";
    const QByteArray hexdumpLine = "00000000  a8 01 08 2f 50 41 42 43  44 45 46 47 48 49 4a 4b  |.../PABCDEFGHIJK|\n";

    QTest::newRow("value over 255") << detect << timeValue + "0.1,0x01,,\n0.2,256,,\n" << qint64(3)
        << "line 3: value \"256\" is over 255" + csv;
    QTest::newRow("not a byte") << detect << timeValue + "0.1,0xZZ,,\n" << qint64(2)
        << "line 2: \"0xZZ\" is not a byte (0xA8, 168, 0b10101000 or a quoted character)" + csv;
    QTest::newRow("no byte") << detect << timeValue + "0.1,,,\n" << qint64(2) << "line 2: the row has no byte" + csv;
    QTest::newRow("more than one character") << detect << timeValue + "0.1,'AB',,\n" << qint64(2)
        << "line 2: \"'AB'\" is more than one character" + csv;
    QTest::newRow("not a time") << detect << timeValue + "0.1s,1,,\n" << qint64(2)
        << "line 2: \"0.1s\" is not a time in seconds" + csv;
    QTest::newRow("binary after a CSV header") << detect << timeValue + "\xA8\x01\x08,\x2F\n" << qint64(2)
        << "line 2: 2 fields where the header has 4" + csv;
    QTest::newRow("text after a closing quote") << detect << timeValue + "0.1,\"1\"2,,\n" << qint64(2)
        << "line 2: text after a closing quote" + csv;
    QTest::newRow("quote not closed") << detect << timeValue + "0.1,1,,\n0.2,\"1,,\n0.3,1,,\n" << qint64(3)
        << "line 3: a quoted field opened on this line is not closed" + csv;
    QTest::newRow("text in no form") << detect << QByteArray("\nhello\n") << qint64(2)
        << "line 2: \"hello\" is text, but neither a Saleae CSV header nor a hex dump line (give --input raw to read "
           "the file as raw bytes)";
    QTest::newRow("od's '*' without offsets") << detect << QByteArray(" a8 01\n*\n") << qint64(2)
        << "line 2: '*' stands for lines left out as repeats of the line before, and a dump without offsets cannot "
           "tell how many: make it again with od -v or hexdump -v" + pairs;
    QTest::newRow("xxd -i length wrong") << detect
        << QByteArray("unsigned char c[] = {\n  0xa8, 0x01\n};\nunsigned int c_len = 3;\n") << qint64(4)
        << "line 4: the dump gives its length as 3 bytes, but holds 2 (read as xxd -i dump, recognised by its content)";
    QTest::newRow("forced Saleae, no header") << CaptureReader::ForceSaleae << QByteArray("a8 01\n") << qint64(1)
        << "line 1: not a Saleae async-serial header (\"Time [s],Value,Parity Error,Framing Error\" or "
           "\"name,type,start_time,duration,data\") (read as Saleae CSV, as the input was given as saleae)";

    QTest::newRow("odd digit out") << detect << QByteArray("A8 01\nA8 01 0 2F\n") << qint64(2)
        << "line 2: \"0\" has an odd number of hex digits" + pairs;
    QTest::newRow("binary after a hex dump") << detect << QByteArray(1000 * 6, 'x').replace("xxxxxx", "A8 01\n")
        + "\xA8\x01\n" << qint64(1001) << "line 1001: \"\\xA8\\x01\" holds \"\\xA8\", which is not a hex digit" + pairs;
    QTest::newRow("0x with three digits") << detect << QByteArray("0xA8, 0x101\n") << qint64(1)
        << "line 1: \"0x101\" is not one byte: 0x takes one or two hex digits" + pairs;
    QTest::newRow("forced hex on text") << CaptureReader::ForceHex << QByteArray("hello\n") << qint64(1)
        << "line 1: \"hello\" holds \"h\", which is not a hex digit (read as hex pairs, as the input was given as hex)";
    QTest::newRow("xxd line without offset") << detect << QByteArray("00000000: a801  ..\na8 01\n") << qint64(2)
        << "line 2: the line does not start with an offset and ':'" + xxd;
    QTest::newRow("xxd offset skips a line") << detect << QByteArray("00000000: a801  ..\n00000004: a801  ..\n")
        << qint64(2) << "line 2: offset 0x4 where 0x2 was expected" + xxd;
    QTest::newRow("xxd offset too long") << detect << QByteArray("00000000: a801  ..\n1000000000000000: a801  ..\n")
        << qint64(2) << "line 2: the offset has more than 15 hex digits" + xxd;
    QTest::newRow("xxd offset, no bytes") << detect << QByteArray("00000000: a801  ..\n00000002:\n") << qint64(2)
        << "line 2: no bytes after the offset" + xxd;
    QTest::newRow("xxd -e") << detect << QByteArray("00000000: 2f0801a8 43424150 47464544 4b4a4948  .../PABCDEFGHIJK\n")
        << qint64(1) << "line 1: the bytes do not match the text column beside them (xxd -e and other layouts are not "
                        "read)" + xxd;
    QTest::newRow("hexdump -C line without offset") << detect << hexdumpLine + "  a8 01  |..|\n" << qint64(2)
        << "line 2: the line does not start with an offset" + hexdump;
    QTest::newRow("hexdump -C, a digit short") << detect << hexdumpLine + "00000010  a8 1  |..|\n" << qint64(2)
        << "line 2: \"1\" is not a byte in two hex digits" + hexdump;
    QTest::newRow("'*' not whole lines") << detect << hexdumpLine + "*\n00000018\n" << qint64(3)
        << "line 3: the '*' on line 2 stands for 8 bytes, not a whole number of 16-byte lines" + hexdump;
    QTest::newRow("'*' too long") << detect << hexdumpLine + "*\n10000000\n" << qint64(3)
        << "line 3: the '*' on line 2 stands for 268435440 bytes, more than 16 times the dump so far" + hexdump;
    QTest::newRow("'*' at the end") << detect << hexdumpLine + "*\n" << qint64(2)
        << "line 2: '*' is not followed by the offset of the line after the repeat" + hexdump;
    QTest::newRow("two '*' in a row") << detect << hexdumpLine + "*\n*\n" << qint64(3)
        << "line 3: a second '*' in a row" + hexdump;
    QTest::newRow("line after the length") << detect << hexdumpLine + "00000010\n" + hexdumpLine << qint64(3)
        << "line 3: a line after the one that gives the dump's length" + hexdump;
}

void tst_CaptureReader::brokenFiles()
{
    QFETCH(CaptureReader::Input, input);
    QFETCH(QByteArray, contents);
    QFETCH(qint64, line);
    QFETCH(QString, error);
    for (int block : {0, 3}) {
        const Decoded decoded = decode(contents, block, input);
        QCOMPARE(decoded.error, error);
        QCOMPARE(decoded.errorLine, line);
    }
}

void tst_CaptureReader::brokenLineGivesNoByte_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("before"); // the bytes of the lines before the broken one
    QTest::newRow("pairs") << QByteArray("A8 01\nA8 01 0 2F\n") << QByteArray("\xA8\x01");
    QTest::newRow("xxd") << QByteArray("00000000: a801  ..\n00000002: a801 0  ...\n") << QByteArray("\xA8\x01");
    QTest::newRow("hexdump -C") << QByteArray("00000000  a8 01  |..|\n00000002  a8 01 1  |..|\n")
                                << QByteArray("\xA8\x01");
}

void tst_CaptureReader::brokenLineGivesNoByte()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, before);
    for (int block : {0, 3}) {
        const Decoded decoded = decode(contents, block);
        QCOMPARE(decoded.errorLine, qint64(2));
        QCOMPARE(decoded.bytes.toHex(' '), before.toHex(' '));
    }
}

// Fed piece by piece as a pipe brings it, the form is known once the bytes
// so far can be told apart, not after a window of 4 KB.
void tst_CaptureReader::decidesAsSoonAsItCan_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("needed"); // bytes after which the form is known
    QTest::addColumn<CaptureReader::Form>("form");
    QTest::newRow("raw frame") << frameBytes << 1 << CaptureReader::Raw;
    QTest::newRow("raw, joined mid-frame at text") << QByteArray("AB\x01\x02") << 3 << CaptureReader::Raw;
    QTest::newRow("CSV header") << timeValue + "0.1,0xA8,,\n" << int(timeValue.size()) << CaptureReader::SaleaeTimeValue;
    QTest::newRow("CSV after a title line") << "title\r\n" + nameType << int(nameType.size()) + 7
                                            << CaptureReader::SaleaeNameType;
}

void tst_CaptureReader::decidesAsSoonAsItCan()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, needed);
    QFETCH(CaptureReader::Form, form);
    CaptureReader reader;
    for (int i = 0; i < needed; ++i) {
        QCOMPARE(reader.form(), CaptureReader::Undecided);
        QVERIFY(reader.feed(contents.constData() + i, 1));
    }
    QCOMPARE(reader.form(), form);
    if (form == CaptureReader::Raw)
        QCOMPARE(reader.takeBytes(), contents.left(needed));
}

void tst_CaptureReader::backwardTimesNamed()
{
    QByteArray csv = timeValue;
    for (int line = 2; line <= 9; ++line)
        csv += QByteArray::number(line % 2 ? 0.1 : 0.2) + ",0xA8,,\n";
    CaptureReader reader;
    QVERIFY(reader.readAll(csv));
    const QStringList warnings = reader.takeWarnings();
    QCOMPARE(warnings.size(), 4);
    QCOMPARE(warnings.first(), QStringLiteral("line 3: time 0.100000000 s is before the row before it (0.200000000 s); "
                                              "taken as 0.200000000 s, in file order"));
    QVERIFY(warnings.at(2).startsWith(QStringLiteral("line 7: ")));
    QCOMPARE(warnings.last(), QStringLiteral("times ran backwards on 4 lines in all; each was taken as the time before it"));
}

void tst_CaptureReader::inputNames()
{
    CaptureReader::Input input = CaptureReader::Detect;
    QVERIFY(CaptureReader::inputFromName(QStringLiteral("saleae"), input));
    QCOMPARE(input, CaptureReader::ForceSaleae);
    QVERIFY(CaptureReader::inputFromName(QStringLiteral("hex"), input));
    QCOMPARE(input, CaptureReader::ForceHex);
    QVERIFY(CaptureReader::inputFromName(QStringLiteral("raw"), input));
    QCOMPARE(input, CaptureReader::ForceRaw);
    QVERIFY(!CaptureReader::inputFromName(QStringLiteral("csv"), input));
}

QTEST_APPLESS_MAIN(tst_CaptureReader)
#include "tst_capturereader.moc"
