// Fault soak: the real window against the simulator's unit in the test's own process, on the
// unit's virtual clock, driven through thousands of random operations while the unit and the
// line misbehave in random ways. It proves that nothing hangs, that no settings block and no
// recording reaches the unit altered, and that every failure shows in the log or in an error
// box and never passes for success.
//
// TARVIK2_SOAK_SEED picks the random sequence (printed at the start and at the end),
// TARVIK2_SOAK_OPS the number of operations, TARVIK2_SOAK_ADAPTER the USB adapter between the
// unit and the program (none, ftdi1, ftdi16, cp210x or ch340), and TARVIK2_SOAK_TRACE=1 prints
// every operation.

#include "app/tform1.h"
#include "app/trendchart.h"
#include "support/errorboxcatcher.h"
#include "support/simulatedunit.h"
#include "support/wavfile.h"
#include "support/windowdriver.h"
#include "support/windowlog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace {

constexpr quint64 DefaultSeed = 20240917;
constexpr int DefaultOperations = 2000;
// No operation may keep the program waiting longer than this on the unit's clock; anything
// above it counts as a hang.
constexpr int OperationBoundMs = 30000;
constexpr int BlockSize = 512;
constexpr int HeaderSize = 44;
constexpr int MeasurementSize = 12;
// The unit drops a stalled upload after 1 s of quiet line. After such a failure the test
// leaves it that long, as any engineer at the keyboard would, whatever the program waited.
constexpr int UnitStallMs = 1100;
// Long enough for a late reply to have come in before the next operation begins.
constexpr int LateSettleMs = 60;
// The unit's clock runs on in these steps while the test waits for the line to settle.
constexpr int SettleStepMs = 10;
// The program waits this long for a one-byte answer (10 ms a byte and the allowance for a USB
// adapter's latency timer); an answer later than this, and some margin, cannot be taken.
constexpr int ByteBoundMs = 30;
constexpr int TimingMarginMs = 5;

const QByteArray FactoryHead = QByteArray::fromHex("03010139000101010000"
                                                   "001E001403E80DAC02BC"
                                                   "0B540101010101010260"
                                                   "019C0AD1010101000A32"
                                                   "0C1C330C000000000000");
const QString NoData = QStringLiteral("НЕТ ДАННЫХ");
const QString ReadDone = QStringLiteral("Прочитано");
const QString LostLine = QStringLiteral("Связь с устройством потеряна");
const QString NoAnswer = QStringLiteral("Нет ответа от устройства");
const QString ReadMisaligned =
    QStringLiteral("Ошибка чтения: ответ не совпал с запросом, данные отброшены");
const QString ReadUnconfirmed = QStringLiteral("Ошибка чтения: данные не подтвердились");
const QString Bang = QStringLiteral("!!!!!!!!!!!!!!!!");

// ---- The window's fields and the settings block, written out independently of the program.

// A field's text as a number: leading blanks, then a signed decimal within 32 bits, or up to
// eight hex digits after "$", "x", "X", "0x" or "0X"; nothing may follow.
std::optional<qint32> fieldValue(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    const QStringView rest = QStringView(text).mid(i);
    if (rest.isEmpty())
        return std::nullopt;
    qsizetype hexFrom = 0;
    if (rest.startsWith(u"0x") || rest.startsWith(u"0X"))
        hexFrom = 2;
    else if (rest[0] == u'$' || rest[0] == u'x' || rest[0] == u'X')
        hexFrom = 1;
    if (hexFrom > 0) {
        const QStringView digits = rest.mid(hexFrom);
        if (digits.isEmpty() || digits.size() > 8)
            return std::nullopt;
        // Qt's conversion would take blanks, a sign or a second "0x"; only the digits go to it.
        const QString HexDigits = QStringLiteral("0123456789abcdefABCDEF");
        if (!std::all_of(digits.begin(), digits.end(),
                         [&HexDigits](QChar c) { return HexDigits.contains(c); }))
            return std::nullopt;
        return qint32(digits.toUInt(nullptr, 16));
    }
    qsizetype p = 0;
    const bool negative = rest[0] == u'-';
    if (rest[0] == u'-' || rest[0] == u'+')
        p = 1;
    if (p >= rest.size())
        return std::nullopt;
    qint64 value = 0;
    for (; p < rest.size(); ++p) {
        if (rest[p] < u'0' || rest[p] > u'9')
            return std::nullopt;
        value = value * 10 + (rest[p].unicode() - '0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return std::nullopt;
    return qint32(value);
}

struct NumberField {
    QLineEdit *edit;
    int offset;
    int width;
};

// In the order a write converts them, so the first bad one is the one reported.
std::array<NumberField, 11> numberFields(const TForm1 &form)
{
    return {{{form.Edit1, 0, 1},
             {form.Edit5, 6, 1},
             {form.Edit6, 7, 1},
             {form.Edit7, 10, 2},
             {form.Edit8, 12, 2},
             {form.Edit9, 14, 2},
             {form.Edit10, 16, 2},
             {form.Edit11, 18, 2},
             {form.Edit12, 20, 2},
             {form.Edit20, 40, 2},
             {form.Edit13, 39, 1}}};
}

struct FlagField {
    QCheckBox *box;
    int offset;
};

std::array<FlagField, 12> flagFields(const TForm1 &form)
{
    return {{{form.CheckBox11, 8},
             {form.CheckBox12, 9},
             {form.CheckBox5, 22},
             {form.CheckBox6, 23},
             {form.CheckBox7, 24},
             {form.CheckBox8, 25},
             {form.CheckBox9, 26},
             {form.CheckBox10, 27},
             {form.CheckBox1, 34},
             {form.CheckBox2, 35},
             {form.CheckBox3, 36},
             {form.CheckBox4, 37}}};
}

// The bars clamp to their own ranges; the model takes those from the bars.
struct BarField {
    QSlider *bar;
    int offset;
};

std::array<BarField, 3> barFields(const TForm1 &form)
{
    return {{{form.TrackBar1, 38}, {form.TrackBar2, 42}, {form.TrackBar3, 43}}};
}

// The block a write must send: the window's values laid over `held`. Empty when a field's text
// is no number; badText then holds the first such text in conversion order.
QByteArray windowOver(const TForm1 &form, QByteArray held, QString *badText)
{
    for (const NumberField &f : numberFields(form)) {
        const std::optional<qint32> value = fieldValue(f.edit->text());
        if (!value) {
            *badText = f.edit->text();
            return {};
        }
        const quint32 bits = quint32(*value);
        if (f.width == 1) {
            held[f.offset] = char(bits & 0xFF);
        } else {
            held[f.offset] = char(bits >> 8 & 0xFF);
            held[f.offset + 1] = char(bits & 0xFF);
        }
    }
    for (const FlagField &f : flagFields(form))
        held[f.offset] = f.box->isChecked() ? 1 : 0;
    for (const BarField &f : barFields(form))
        held[f.offset] = char(f.bar->value());
    return held;
}

// How the window differs from what it must show after taking `block` whole.
QStringList shownDifferences(const TForm1 &form, const QByteArray &block)
{
    auto byte = [&block](int i) { return int(quint8(block[i])); };
    auto word = [&byte](int i) { return byte(i) << 8 | byte(i + 1); };
    QStringList out;
    auto expectText = [&out](const QLineEdit *edit, const QString &want) {
        if (edit->text() != want)
            out << QStringLiteral("%1 '%2' (want '%3')")
                       .arg(edit->objectName(), edit->text(), want);
    };
    for (const NumberField &f : numberFields(form))
        expectText(f.edit, QString::number(f.width == 1 ? byte(f.offset) : word(f.offset)));
    expectText(form.Edit2, QString::number(word(4)));
    for (const FlagField &f : flagFields(form)) {
        if (f.box->isChecked() != (byte(f.offset) == 1))
            out << QStringLiteral("%1 %2 (byte %3)")
                       .arg(f.box->objectName(),
                            f.box->isChecked() ? QStringLiteral("ticked") : QStringLiteral("clear"))
                       .arg(byte(f.offset));
    }
    for (const BarField &f : barFields(form)) {
        const int want = std::clamp(byte(f.offset), f.bar->minimum(), f.bar->maximum());
        if (f.bar->value() != want)
            out << QStringLiteral("%1 at %2 (want %3)")
                       .arg(f.bar->objectName())
                       .arg(f.bar->value())
                       .arg(want);
    }
    expectText(form.Edit21, QString::number(form.TrackBar2->value()));
    expectText(form.Edit22, QString::number(form.TrackBar3->value()));
    const QStringList types{QStringLiteral("ТАРВИК2"), QStringLiteral("ПУЛЬТ"),
                            QStringLiteral("Модуль входов")};
    if (byte(1) >= 1 && byte(1) <= 3)
        expectText(form.Edit4, types[byte(1) - 1]);
    return out;
}

QString offsetsDiffering(const QByteArray &a, const QByteArray &b)
{
    QStringList out;
    for (int i = 0; i < std::min(a.size(), b.size()) && out.size() < 12; ++i) {
        if (a[i] != b[i])
            out << QStringLiteral("%1:%2/%3")
                       .arg(i)
                       .arg(quint8(a[i]), 2, 16, QLatin1Char('0'))
                       .arg(quint8(b[i]), 2, 16, QLatin1Char('0'));
    }
    if (a.size() != b.size())
        out << QStringLiteral("sizes %1/%2").arg(a.size()).arg(b.size());
    return out.join(QLatin1Char(' '));
}

// Everything the setting fields show.
struct Fields {
    QStringList texts;
    QList<bool> ticks;
    QList<int> bars;
    bool operator==(const Fields &) const = default;
};

Fields fieldsOf(const TForm1 &form)
{
    Fields f;
    for (const QLineEdit *edit : {form.Edit1, form.Edit2, form.Edit4, form.Edit5, form.Edit6,
                                  form.Edit7, form.Edit8, form.Edit9, form.Edit10, form.Edit11,
                                  form.Edit12, form.Edit13, form.Edit20, form.Edit21, form.Edit22})
        f.texts << edit->text();
    for (const FlagField &flag : flagFields(form))
        f.ticks << flag.box->isChecked();
    for (const BarField &bar : barFields(form))
        f.bars << bar.bar->value();
    return f;
}

QStringList measurementText(const QByteArray &reply)
{
    QStringList out;
    for (int k = 0; k < 6; ++k)
        out << QString::number(quint8(reply[2 * k]) << 8 | quint8(reply[2 * k + 1]));
    return out;
}

int lineCount(const TForm1 &form)
{
    const QTextDocument *doc = form.Memo1->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

QStringList linesFrom(const TForm1 &form, int first)
{
    QStringList lines;
    const QTextDocument *doc = form.Memo1->document();
    if (doc->isEmpty())
        return lines;
    for (QTextBlock b = doc->findBlockByNumber(first); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

bool isFailureLine(const QString &line)
{
    return line.startsWith(QStringLiteral("Ошибка")) || line == NoAnswer || line == LostLine ||
           line == QStringLiteral("Ошибок:") || line.startsWith(QStringLiteral("Файл "));
}

// ---- Sound files.

struct Sound {
    bool usable = false;
    int blocks = 0;
    QByteArray whole; // the data of its whole blocks: what the unit must store
};

enum class Slot { Ppk1, Ppk2, Siren };
const std::array<const char *, 3> SoundNames = {"PPK1", "PPK2", "SIREN"};

// ---- Operations and faults.

enum class Op {
    Connect,
    Read,
    Write,
    Reset,
    Messages,
    Siren,
    Ticks,
    Measure,
    Hangup,
    Reopen,
    Scan,
    UnitChanged
};

const char *opName(Op op)
{
    switch (op) {
    case Op::Connect:
        return "connect";
    case Op::Read:
        return "read";
    case Op::Write:
        return "write";
    case Op::Reset:
        return "factory-reset";
    case Op::Messages:
        return "messages-upload";
    case Op::Siren:
        return "siren-upload";
    case Op::Ticks:
        return "ticks";
    case Op::Measure:
        return "measure";
    case Op::Hangup:
        return "port-gone";
    case Op::Reopen:
        return "port-back";
    case Op::Scan:
        return "scan";
    case Op::UnitChanged:
        return "unit-changed";
    }
    return "?";
}

enum class FaultKind {
    None,
    Silent,
    Late,
    Short,
    Garbage,
    FfOnly,
    StopAfter,
    Corrupt,
    HangupAfter,
    JunkOnce,  // junk ahead of the next reply only
    SplitOnce, // the next data reply's tail comes after a gap of m ms
    TailOnce,  // the next data reply's tail is held back and sent ahead of the reply after it
    ShiftOnce  // n junk bytes ahead of the next data reply, its tail after a gap of m ms
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int n = 0;
    int ms = 0;

    bool is(FaultKind k) const { return kind == k; }
    QString command() const
    {
        switch (kind) {
        case FaultKind::None:
            return QStringLiteral("fault none");
        case FaultKind::Silent:
            return QStringLiteral("fault silent");
        case FaultKind::Late:
            return QStringLiteral("fault late %1").arg(n);
        case FaultKind::Short:
            return QStringLiteral("fault short %1").arg(n);
        case FaultKind::Garbage:
            return QStringLiteral("fault garbage %1").arg(n);
        case FaultKind::FfOnly:
            return QStringLiteral("fault ffonly");
        case FaultKind::StopAfter:
            return QStringLiteral("fault stop-after %1").arg(n);
        case FaultKind::Corrupt:
            return QStringLiteral("fault corrupt %1").arg(n);
        case FaultKind::HangupAfter:
            return QStringLiteral("fault hangup-after %1").arg(n);
        case FaultKind::JunkOnce:
            return QStringLiteral("fault garbage-once %1").arg(n);
        case FaultKind::SplitOnce:
            return QStringLiteral("fault split-once %1 %2").arg(n).arg(ms);
        case FaultKind::TailOnce:
            return QStringLiteral("fault tail-once %1").arg(n);
        case FaultKind::ShiftOnce:
            return QStringLiteral("fault shift-once %1 %2").arg(n).arg(ms);
        }
        return {};
    }
};

// The state of the window and the unit's record just before an operation.
struct Before {
    int lines = 0;
    int boxes = 0;
    Fields fields;
    QStringList measured;
    qint64 points = 0;
    QByteArray write; // what a write must send; empty when a field holds bad text
    QString badText;
};

// The last upload of one kind that reached the unit: what it had to store, and whether the
// program reported it as failed.
struct LastUpload {
    bool started = false;
    bool failed = false;
    QByteArray first;
    QByteArray second;
};

class Soak {
public:
    Soak(TForm1 &form, SimulatedUnit &sim, ErrorBoxCatcher &boxes, quint64 seed, bool trace)
        : m_form(form), m_sim(sim), m_boxes(boxes), m_rng(seed), m_seed(seed), m_trace(trace),
          m_held(BlockSize, '\0')
    {
        for (int i = 0; i < 3; ++i)
            m_sounds[i] = writeSound(Slot(i), false);
    }

    QByteArray randomBlock();

    // One random operation, with or without a fault, and its checks. False when it overran
    // its bound: the soak then stops.
    bool step(int index);

    int operations = 0;
    int faults = 0;
    int failuresReported = 0;
    int dataCorrupted = 0;
    int falseSuccesses = 0;
    int violations = 0;
    int writesChecked = 0;
    int resetsChecked = 0;
    int readsChecked = 0;
    int uploadsChecked = 0;
    int measurementsChecked = 0;
    int recordingsExcused = 0;
    int falseRefusals = 0; // refusals on a clean line
    int unconfirmed = 0;   // reads refused because no two replies agreed
    qint64 longestMs = 0;  // on the unit's clock
    QString firstViolation;

private:
    enum class Severity { Other, FalseSuccess, DataCorrupted };

    Op pickOp();
    Fault pickFault(Op op);
    void editWindow();
    QString randomNumberText(int width);
    QString randomBadText();
    Sound writeSound(Slot slot, bool mayBreak);
    // False when the operation never ended.
    bool run(Op op);
    void check(Op op, const Fault &fault, const Before &before);

    void checkConnect(const Fault &fault, const QStringList &lines, const QByteArray &rx,
                      const QByteArray &tx);
    void checkSettingsRead(const Fault &fault, const QStringList &lines, const QByteArray &tx,
                           bool portOk);
    void checkReadButton(const Fault &fault, const QStringList &lines, const QByteArray &rx,
                         const QByteArray &tx);
    void checkWrite(const Fault &fault, const Before &before, const QStringList &lines,
                    const QByteArray &rx, const QByteArray &tx);
    void checkReset(const Fault &fault, const Before &before, const QStringList &lines,
                    const QByteArray &rx);
    void checkUpload(bool messages, const Fault &fault, const QStringList &lines,
                     const QByteArray &rx);
    void checkMeasurement(Op op, const Fault &fault, const Before &before, const QByteArray &rx,
                          const QByteArray &tx);
    void checkScan(const QStringList &lines);
    void checkHangup();
    void checkRecordings();
    QByteArray recording(Slot slot) const;
    int heldBytes();
    void drainHeldTail();
    void portGone();
    // Until the bytes already on their way have come in, and the record with them.
    void settle();

    void report(Severity severity, const QString &what);

    TForm1 &m_form;
    SimulatedUnit &m_sim;
    ErrorBoxCatcher &m_boxes;
    QRandomGenerator m_rng;
    quint64 m_seed;
    bool m_trace;

    // What the program's transfer block holds, as far as a write is concerned: the unit's last
    // reply taken whole, overlaid by every write that got past its conversions, or the factory
    // values after a reset.
    QByteArray m_held;
    bool m_connected = false;
    bool m_portUp = true;         // the unit's line is there
    bool m_programPortOk = false; // the program holds the line open and working
    bool m_heldWhenLost = false;  // the program held the line when it went
    std::array<Sound, 3> m_sounds;
    std::array<QByteArray, 3> m_recorded; // what the recordings held when last looked at
    LastUpload m_lastMessages;
    LastUpload m_lastSiren;
    int m_ticks = 0;

    // Context of the running operation, for the reports.
    int m_index = 0;
    Op m_op = Op::Connect;
    Fault m_fault;
    bool m_lastClean = true; // the operation before this one ran with no fault
    QStringList m_lines;
};

QByteArray Soak::randomBlock()
{
    QByteArray b(BlockSize, '\0');
    for (char &c : b)
        c = char(m_rng.bounded(256));
    b[1] = char(m_rng.bounded(10) < 8 ? 1 + m_rng.bounded(3) : m_rng.bounded(256));
    for (int flag : {8, 9, 22, 23, 24, 25, 26, 27, 34, 35, 36, 37}) {
        if (m_rng.bounded(10) < 9)
            b[flag] = char(m_rng.bounded(2));
    }
    if (m_rng.bounded(10) < 8) {
        b[38] = char(2 + m_rng.bounded(19));
        b[42] = char(m_rng.bounded(101));
        b[43] = char(2 + m_rng.bounded(15));
    }
    return b;
}

void Soak::report(Severity severity, const QString &what)
{
    ++violations;
    if (severity == Severity::DataCorrupted)
        ++dataCorrupted;
    else if (severity == Severity::FalseSuccess)
        ++falseSuccesses;
    const QString text = QStringLiteral("seed=%1 op#%2 %3 [%4]: %5 | log: %6")
                             .arg(m_seed)
                             .arg(m_index)
                             .arg(QLatin1String(opName(m_op)), m_fault.command(), what,
                                  m_lines.mid(0, 14).join(QStringLiteral(" / ")));
    if (firstViolation.isEmpty())
        firstViolation = text;
    if (violations <= 30)
        qWarning().noquote() << "soak violation:" << text;
}

Op Soak::pickOp()
{
    const bool linked = m_connected && m_programPortOk;
    const std::pair<Op, int> weights[] = {
        {Op::Connect, linked ? 4 : 25},
        {Op::Read, 9},
        {Op::Write, 14},
        {Op::Reset, 4},
        {Op::Messages, 6},
        {Op::Siren, 6},
        {Op::Ticks, 8},
        {Op::Measure, 5},
        {Op::Hangup, m_portUp ? 1 : 0},
        {Op::Reopen, m_portUp ? 0 : 20},
        {Op::Scan, 1},
        {Op::UnitChanged, 1},
    };
    int total = 0;
    for (const auto &w : weights)
        total += w.second;
    int pick = m_rng.bounded(total);
    for (const auto &w : weights) {
        if (pick < w.second)
            return w.first;
        pick -= w.second;
    }
    return Op::Measure;
}

// Faults that make a settings receive run to its 5.12 s time-out are kept to about one in a
// hundred of the operations they can hit, so that most reads get as far as a reply to check.
Fault Soak::pickFault(Op op)
{
    const double r = m_rng.generateDouble();
    auto late = [this] { return Fault{FaultKind::Late, 5 + m_rng.bounded(36)}; };
    auto junkOnce = [this] { return Fault{FaultKind::JunkOnce, 1 + m_rng.bounded(8)}; };
    // A block is confirmed by a second read, so its tail may come after any gap. A
    // measurement has only the quiet line behind it: its tail must come within the line's
    // settle window (5 ms on a native line) to be told from a whole reply.
    auto shiftOnce = [this](int size) {
        return Fault{FaultKind::ShiftOnce, 1 + m_rng.bounded(std::min(size - 1, 8)),
                     size == BlockSize ? 1 + m_rng.bounded(30) : 1 + m_rng.bounded(3)};
    };
    auto slowRead = [this] {
        return m_rng.bounded(3) == 0 ? Fault{FaultKind::Silent, 0}
                                     : Fault{FaultKind::Short, m_rng.bounded(BlockSize)};
    };
    switch (op) {
    case Op::Connect:
        if (r < 0.01)
            return {FaultKind::Short, m_rng.bounded(BlockSize)};
        if (r < 0.22) {
            switch (m_rng.bounded(5)) {
            case 0:
                return {FaultKind::Silent, 0};
            case 1:
                return {FaultKind::Garbage, 1 + m_rng.bounded(8)};
            case 2:
                return {FaultKind::Corrupt, 1 + m_rng.bounded(412)};
            case 3:
                return junkOnce();
            default:
                return late();
            }
        }
        return {};
    case Op::Read:
        if (r < 0.01)
            return slowRead();
        if (r < 0.20)
            return late();
        if (r < 0.25)
            return junkOnce();
        if (r < 0.30) // the tail comes well within the block's time-out: a whole reply
            return {FaultKind::SplitOnce, 1 + m_rng.bounded(BlockSize - 1), 10 + m_rng.bounded(50)};
        if (r < 0.35)
            return shiftOnce(BlockSize);
        return {};
    case Op::Write:
    case Op::Reset:
        if (r < 0.01)
            return slowRead();
        if (r < 0.25)
            return m_rng.bounded(2) ? late() : Fault{FaultKind::Corrupt, 1 + m_rng.bounded(412)};
        if (r < 0.30)
            return junkOnce();
        if (r < 0.34)
            return shiftOnce(BlockSize);
        return {};
    case Op::Messages:
    case Op::Siren:
        if (r < 0.30) {
            switch (m_rng.bounded(7)) {
            case 0:
                return {FaultKind::Silent, 0};
            case 1:
                return late();
            case 2:
                return {FaultKind::Garbage, 1 + m_rng.bounded(8)};
            case 3:
                return {FaultKind::FfOnly, 0};
            case 4:
                return {FaultKind::StopAfter, m_rng.bounded(7)};
            case 5:
                return {FaultKind::HangupAfter, 1 + m_rng.bounded(7)};
            default:
                return {FaultKind::Short, m_rng.bounded(MeasurementSize)};
            }
        }
        return {};
    case Op::Ticks:
    case Op::Measure:
        if (r < 0.35) {
            switch (m_rng.bounded(7)) {
            case 0:
                return {FaultKind::Silent, 0};
            case 1:
                return late();
            case 2:
                return junkOnce();
            case 3: // the tail misses the reply's time-out
                return {FaultKind::SplitOnce, 1 + m_rng.bounded(MeasurementSize - 1),
                        150 + m_rng.bounded(150)};
            case 4:
                return {FaultKind::TailOnce, m_rng.bounded(MeasurementSize)};
            case 5:
                return shiftOnce(MeasurementSize);
            default:
                return {FaultKind::Short, m_rng.bounded(MeasurementSize)};
            }
        }
        return {};
    default:
        return {};
    }
}

QString Soak::randomNumberText(int width)
{
    const qint64 span = width == 1 ? 256 : 65536;
    qint64 value = 0;
    switch (m_rng.bounded(10)) {
    case 0:
        value = span + m_rng.bounded(200000); // too large: only the low bits go out
        break;
    case 1:
        value = -qint64(1 + m_rng.bounded(70000));
        break;
    case 2:
        value = qint64(m_rng.bounded(0x7FFFFFFF)) * (m_rng.bounded(2) ? 1 : -1);
        break;
    default:
        value = m_rng.bounded(int(span));
        break;
    }
    const QString hex = QString::number(quint32(qint32(value)), 16);
    switch (m_rng.bounded(9)) {
    case 0:
        return QStringLiteral("$") + hex;
    case 1:
        return QStringLiteral("0x") + hex.toUpper();
    case 2:
        return (m_rng.bounded(2) ? QStringLiteral("x") : QStringLiteral("X")) + hex;
    case 3:
        return QStringLiteral("0X") + hex;
    case 4:
        return QString(1 + m_rng.bounded(3), QLatin1Char(' ')) + QString::number(value);
    case 5:
        return value >= 0 ? QStringLiteral("+") + QString::number(value) : QString::number(value);
    case 6:
        return value >= 0 ? QStringLiteral("00") + QString::number(value) : QString::number(value);
    default:
        return QString::number(value);
    }
}

QString Soak::randomBadText()
{
    static const QStringList bad{QString(),
                                 QStringLiteral(" "),
                                 QStringLiteral("abc"),
                                 QStringLiteral("12 "),
                                 QStringLiteral("1.5"),
                                 QStringLiteral("2147483648"),
                                 QStringLiteral("-2147483649"),
                                 QStringLiteral("$123456789"),
                                 QStringLiteral("0x"),
                                 QStringLiteral("$"),
                                 QStringLiteral("-"),
                                 QStringLiteral("+-1"),
                                 QStringLiteral("1e3"),
                                 QStringLiteral("-$10"),
                                 QStringLiteral("$1G"),
                                 NoData};
    return bad[m_rng.bounded(int(bad.size()))];
}

// Random edits as an engineer makes them: some number fields retyped (every one of them, as a
// rule, when the window shows no data), some boxes toggled, some bars moved, and now and then a
// text that is no number.
void Soak::editWindow()
{
    const bool noData = m_form.Edit5->text() == NoData;
    const bool all = m_rng.bounded(10) < (noData ? 7 : 2);
    for (const NumberField &f : numberFields(m_form)) {
        if (all || m_rng.bounded(5) == 0)
            f.edit->setText(randomNumberText(f.width));
    }
    for (const FlagField &f : flagFields(m_form)) {
        if (m_rng.bounded(5) == 0)
            f.box->setChecked(!f.box->isChecked());
    }
    for (const BarField &f : barFields(m_form)) {
        if (m_rng.bounded(4) == 0)
            f.bar->setValue(f.bar->minimum() - 3 +
                            m_rng.bounded(f.bar->maximum() - f.bar->minimum() + 7));
    }
    if (m_rng.bounded(100) < 6) {
        const auto fields = numberFields(m_form);
        fields[m_rng.bounded(int(fields.size()))].edit->setText(randomBadText());
    }
}

// Writes one WAV file of 0 to 6 blocks and a remainder into the current folder; with mayBreak,
// now and then one the program must refuse.
Sound Soak::writeSound(Slot slot, bool mayBreak)
{
    const QString name = QLatin1String(SoundNames[int(slot)]) + QStringLiteral(".wav");
    const int blocks = m_rng.bounded(7);
    QByteArray data(blocks * BlockSize + m_rng.bounded(BlockSize), '\0');
    for (char &c : data)
        c = char(m_rng.bounded(256));
    quint32 declared = quint32(data.size());
    const int broken = mayBreak && m_rng.bounded(100) < 10 ? 1 + m_rng.bounded(4) : 0;
    if (broken == 0 && m_rng.bounded(5) == 0)
        declared -= quint32(m_rng.bounded(std::min<int>(int(data.size()), 700) + 1));
    QByteArray file = wavHeader(declared) + data;
    switch (broken) {
    case 1: // the header promises more data than the file holds
        qToLittleEndian<quint32>(quint32(data.size()) + 1 + m_rng.bounded(1000), file.data() + 40);
        break;
    case 2: // cut inside the header
        file.truncate(m_rng.bounded(HeaderSize));
        break;
    case 3:
        file.replace(0, 4, "RIFX");
        break;
    default:
        break;
    }
    if (broken == 4) {
        QFile::remove(name);
        return {};
    }
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size())
        qFatal("cannot write %s", qPrintable(name));
    Sound sound;
    sound.usable = broken == 0;
    sound.blocks = int(declared / BlockSize);
    sound.whole = data.left(sound.blocks * BlockSize);
    return sound;
}

QByteArray Soak::recording(Slot slot) const
{
    QFile f(m_sim.recordingsDir() + QLatin1Char('/') + QLatin1String(SoundNames[int(slot)]) +
            QStringLiteral(".wav"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().mid(HeaderSize);
}

int Soak::heldBytes()
{
    const QString stats = m_sim.ok(QStringLiteral("stats"));
    const qsizetype at = stats.indexOf(QStringLiteral("held="));
    return at < 0 ? 0 : stats.mid(at + 5).section(QLatin1Char(' '), 0, 0).toInt();
}

// Like an adapter pulled out: the unit's line does not open until the port is back.
void Soak::portGone()
{
    m_portUp = false;
    m_programPortOk = false;
}

void Soak::settle()
{
    // Nothing uses the line meanwhile, so only the test moves the unit's clock: on until the
    // counts stand still and nothing the unit still holds queued (a split reply's tail) is on
    // its way. The window's event loop turns meanwhile, as it does while an engineer reaches
    // for the next button: what the last operation left queued (a loss notice) is taken
    // before the next one starts.
    QCoreApplication::processEvents();
    QString before = m_sim.ok(QStringLiteral("stats"));
    for (int i = 0; i < 100; ++i) {
        m_sim.clock().sleep(SettleStepMs);
        QCoreApplication::processEvents();
        const QString now = m_sim.ok(QStringLiteral("stats"));
        if (now == before && now.contains(QStringLiteral(" queued=0")))
            break;
        before = now;
    }
}

bool Soak::step(int index)
{
    m_index = index;
    m_op = pickOp();
    m_lines.clear();
    if (m_op == Op::Write)
        editWindow();
    if (m_op == Op::Messages || m_op == Op::Siren) {
        const std::vector<Slot> files = m_op == Op::Messages
                                            ? std::vector<Slot>{Slot::Ppk1, Slot::Ppk2}
                                            : std::vector<Slot>{Slot::Siren};
        for (Slot s : files) {
            if (m_rng.bounded(10) < 3 || !m_sounds[int(s)].usable)
                m_sounds[int(s)] = writeSound(s, true);
        }
    }
    m_ticks = 1 + m_rng.bounded(4);
    m_fault = pickFault(m_op);

    settle();
    m_sim.clearRecord();
    if (!m_fault.is(FaultKind::None)) {
        m_sim.ok(m_fault.command());
        ++faults;
    }
    Before before;
    before.lines = lineCount(m_form);
    before.boxes = int(m_boxes.texts.size());
    before.fields = fieldsOf(m_form);
    before.measured = measuredTexts(m_form);
    before.points = m_form.trend().count();
    if (m_op == Op::Write)
        before.write = windowOver(m_form, m_held, &before.badText);

    const qint64 started = m_sim.clock().now();
    const bool ended = run(m_op);
    const qint64 ms = m_sim.clock().now() - started;
    longestMs = std::max(longestMs, ms);
    ++operations;
    if (!m_fault.is(FaultKind::None)) {
        // The fault holds until the unit has seen the operation's last byte.
        settle();
        m_sim.ok(QStringLiteral("fault none"));
    }

    m_lines = m_op == Op::Scan ? linesFrom(m_form, 0) : linesFrom(m_form, before.lines);
    if (m_trace) {
        // Straight to the output: the test log would stop after its message limit.
        std::fprintf(stdout, "soak trace: op#%d %s [%s] %lld ms: %s\n", index, opName(m_op),
                     qPrintable(m_fault.command()), static_cast<long long>(ms),
                     qPrintable(m_lines.join(QStringLiteral(" / "))));
        std::fflush(stdout);
    }
    if (!ended) {
        // press() and tick() give up after a minute of real time, which an operation whose
        // waits are on the unit's clock never needs.
        report(Severity::Other, QStringLiteral("never ended"));
        return false;
    }
    if (ms > OperationBoundMs) {
        report(Severity::Other,
               QStringLiteral("took %1 ms, more than %2 ms").arg(ms).arg(OperationBoundMs));
        return false;
    }
    if (m_fault.is(FaultKind::Late))
        m_sim.clock().sleep(LateSettleMs);
    if (m_op == Op::Hangup && m_heldWhenLost) {
        // The program notices a line lost while it idles, once: the loss is told through the
        // event loop, in a few turns of it.
        for (int turn = 0; turn < 100 && linesFrom(m_form, before.lines).isEmpty(); ++turn)
            QCoreApplication::processEvents();
        m_lines = linesFrom(m_form, before.lines);
    }

    const bool boxShown = m_boxes.texts.size() > before.boxes;
    const bool failureSaid = std::any_of(m_lines.begin(), m_lines.end(), isFailureLine);
    const bool lineRefused = std::any_of(m_lines.begin(), m_lines.end(), [](const QString &l) {
        return isFailureLine(l) && !l.startsWith(QStringLiteral("Файл "));
    });
    if (boxShown || failureSaid)
        ++failuresReported;
    // On a clean line (no fault now or in the operation before, the port up and held) nothing
    // may be refused: a read, write, reset, upload or connect that fails, or a measurement
    // that shows nothing, is a false refusal.
    const bool clean = m_fault.is(FaultKind::None) && m_lastClean && m_portUp &&
                       (m_op == Op::Connect || m_programPortOk);
    const int pointsWanted = m_op == Op::Ticks ? m_ticks : 0;
    if (clean && m_op != Op::Hangup && m_op != Op::Scan &&
        (lineRefused || (m_op == Op::Connect && !m_form.connected()) ||
         ((m_op == Op::Ticks || m_op == Op::Measure) &&
          m_form.trend().count() - before.points != pointsWanted))) {
        ++falseRefusals;
        report(Severity::Other, QStringLiteral("refused on a clean line"));
    }
    m_lastClean = m_fault.is(FaultKind::None);
    check(m_op, m_fault, before);
    checkRecordings();
    if (m_fault.is(FaultKind::TailOnce))
        drainHeldTail();
    return true;
}

// A tail the unit still holds goes out glued ahead of its next reply. One measurement takes
// it: that reply is shifted and must not be shown.
void Soak::drainHeldTail()
{
    if (heldBytes() == 0)
        return;
    if (!m_programPortOk) {
        m_sim.ok(QStringLiteral("reopen")); // a new line drops what was held
        m_portUp = true;
        return;
    }
    const QStringList measured = measuredTexts(m_form);
    const qint64 points = m_form.trend().count();
    settle();
    m_sim.clearRecord();
    press(m_form.Button7);
    settle();
    if (measuredTexts(m_form) != measured || m_form.trend().count() != points)
        report(Severity::DataCorrupted,
               QStringLiteral("a measurement shifted by a held tail was shown"));
    if (heldBytes() != 0)
        report(Severity::Other, QStringLiteral("the held tail never went out"));
}

bool Soak::run(Op op)
{
    switch (op) {
    case Op::Connect:
        return press(m_form.Button1);
    case Op::Read:
        return press(m_form.Button5);
    case Op::Write:
        return press(m_form.Button4);
    case Op::Reset:
        return press(m_form.Button3);
    case Op::Messages:
        return press(m_form.Button6);
    case Op::Siren:
        return press(m_form.Button8);
    case Op::Ticks:
        for (int i = 0; i < m_ticks; ++i) {
            if (!tick(m_form))
                return false;
        }
        break;
    case Op::Measure:
        return press(m_form.Button7);
    case Op::Hangup:
        m_heldWhenLost = m_programPortOk;
        m_sim.ok(QStringLiteral("hangup"));
        portGone();
        break;
    case Op::Reopen:
        m_sim.ok(QStringLiteral("reopen"));
        m_portUp = true;
        break;
    case Op::Scan:
        return press(m_form.Button15);
    case Op::UnitChanged:
        m_sim.setBlock(randomBlock());
        break;
    }
    return true;
}

void Soak::check(Op op, const Fault &fault, const Before &before)
{
    settle();
    const QByteArray rx = m_sim.received();
    const QByteArray tx = m_sim.sent();
    const int newBoxes = int(m_boxes.texts.size()) - before.boxes;
    if (newBoxes > 0 && !(op == Op::Write && newBoxes == 1 && before.write.isEmpty()))
        report(Severity::Other, QStringLiteral("unexpected error box: ") + m_boxes.texts.last());

    switch (op) {
    case Op::Connect:
        checkConnect(fault, m_lines, rx, tx);
        break;
    case Op::Read:
        checkReadButton(fault, m_lines, rx, tx);
        break;
    case Op::Write:
        checkWrite(fault, before, m_lines, rx, tx);
        break;
    case Op::Reset:
        checkReset(fault, before, m_lines, rx);
        break;
    case Op::Messages:
    case Op::Siren:
        checkUpload(op == Op::Messages, fault, m_lines, rx);
        if (!(fieldsOf(m_form) == before.fields))
            report(Severity::Other, QStringLiteral("an upload changed the setting fields"));
        break;
    case Op::Ticks:
    case Op::Measure:
        checkMeasurement(op, fault, before, rx, tx);
        break;
    case Op::Scan:
        checkScan(m_lines);
        break;
    case Op::Hangup:
        checkHangup();
        break;
    case Op::Reopen:
    case Op::UnitChanged:
        if (!m_lines.isEmpty())
            report(Severity::Other, QStringLiteral("the log changed with no operation"));
        break;
    }
}

// How many 'R' a settings read sends: the block is taken only when two consecutive whole
// replies agree. A reply that does not come whole ends the read at once; one shifted by junk
// ahead of it costs a read (it is refused, or disagrees with the next); a read-back spoiled on
// its way (corrupt) disagrees with the next one.
int readsFor(const Fault &fault, bool portOk, bool readBack)
{
    if (!portOk)
        return 0;
    if (fault.is(FaultKind::Silent) || (fault.is(FaultKind::Short) && fault.n < BlockSize))
        return 1;
    if (fault.is(FaultKind::JunkOnce) || fault.is(FaultKind::ShiftOnce) ||
        (readBack && fault.is(FaultKind::Corrupt)))
        return 3;
    return 2;
}

// A settings read from "ЖДИТЕ..." on: the unit's own block, shown as it holds it, or a
// refusal that says why; never a block shifted or mixed.
void Soak::checkSettingsRead(const Fault &fault, const QStringList &lines, const QByteArray &tx,
                             bool portOk)
{
    const QByteArray heldBefore = m_held;
    if (lines.value(0) != QStringLiteral("ЖДИТЕ...") || lines.size() != 2) {
        report(Severity::Other, QStringLiteral("a settings read logged something unexpected"));
        return;
    }
    int expectGot = -1; // a whole block
    if (!portOk || fault.is(FaultKind::Silent))
        expectGot = 0;
    else if (fault.is(FaultKind::Short) && fault.n < BlockSize)
        expectGot = fault.n;
    const QString result = lines[1];
    if (result == ReadDone) {
        if (expectGot >= 0) {
            report(
                Severity::FalseSuccess,
                QStringLiteral("read logged success though the unit sent %1 bytes").arg(expectGot));
        }
        if (tx.size() < BlockSize) {
            report(Severity::DataCorrupted,
                   QStringLiteral("the window took a block the unit never sent whole"));
            return;
        }
        const QByteArray block = tx.right(BlockSize);
        QStringList differences = shownDifferences(m_form, block);
        if (differences.isEmpty())
            differences = shownDifferences(m_form, m_sim.block());
        if (!differences.isEmpty())
            report(Severity::DataCorrupted,
                   QStringLiteral("the window shows a block the unit does not hold: ") +
                       differences.join(QStringLiteral(", ")));
        m_held = block;
        ++readsChecked;
        return;
    }
    if (m_form.Edit5->text() != NoData)
        report(Severity::DataCorrupted, QStringLiteral("a refused read left data shown"));
    if (m_held != heldBefore)
        report(Severity::DataCorrupted, QStringLiteral("a refused read changed the held block"));
    if (fault.is(FaultKind::ShiftOnce) && result == ReadUnconfirmed) {
        ++unconfirmed;
        return;
    }
    const QString failed = QStringLiteral("Ошибка чтения: получено %1 из %2 байт")
                               .arg(std::max(expectGot, 0))
                               .arg(BlockSize);
    if (expectGot < 0)
        report(Severity::Other, QStringLiteral("a whole reply was refused: ") + result);
    else if (result != failed)
        report(Severity::Other, QStringLiteral("the failed read should log '%1'").arg(failed));
}

void Soak::checkConnect(const Fault &fault, const QStringList &lines, const QByteArray &rx,
                        const QByteArray &tx)
{
    const bool ok = lines.value(0) == QStringLiteral("Соединение установлено");
    if (ok != m_form.connected())
        report(Severity::Other, QStringLiteral("the connected flag disagrees with the log"));
    if (!m_portUp) {
        if (ok)
            report(Severity::FalseSuccess, QStringLiteral("connected to a port that is gone"));
        if (!rx.isEmpty())
            report(Severity::Other, QStringLiteral("bytes reached a unit that is gone"));
        m_programPortOk = false;
    } else {
        m_programPortOk = true;
        const bool mustFail =
            fault.is(FaultKind::Silent) || fault.is(FaultKind::Garbage) ||
            fault.is(FaultKind::JunkOnce) ||
            (fault.is(FaultKind::Late) && fault.n >= ByteBoundMs + TimingMarginMs);
        if (ok && mustFail)
            report(Severity::FalseSuccess,
                   QStringLiteral("the handshake passed though the unit did not answer 'W' "
                                  "in time"));
        const QByteArray reads(readsFor(fault, true, false), 'R');
        if (rx != (ok ? QByteArray("U") + reads : QByteArray("UZ")))
            report(Severity::Other, QStringLiteral("the unit received %1").arg(rx.toHex()));
    }
    if (ok) {
        checkSettingsRead(fault, lines.mid(1), tx, m_portUp);
    } else {
        if (lines.value(0) != QStringLiteral("Ошибка подключения"))
            report(Severity::Other, QStringLiteral("a failed connect did not say so"));
    }
    m_connected = ok;
}

void Soak::checkReadButton(const Fault &fault, const QStringList &lines, const QByteArray &rx,
                           const QByteArray &tx)
{
    if (!m_connected) {
        if (!lines.isEmpty() || !rx.isEmpty())
            report(Severity::Other, QStringLiteral("a read without connection did something"));
        if (m_form.Edit5->text() != NoData)
            report(Severity::Other, QStringLiteral("a read without connection kept the fields"));
        return;
    }
    if (rx != QByteArray(readsFor(fault, m_programPortOk, false), 'R'))
        report(Severity::Other, QStringLiteral("the unit received %1").arg(rx.toHex()));
    checkSettingsRead(fault, lines, tx, m_programPortOk);
}

void Soak::checkWrite(const Fault &fault, const Before &before, const QStringList &lines,
                      const QByteArray &rx, const QByteArray &tx)
{
    const bool nothingHappened =
        lines.isEmpty() && rx.isEmpty() && fieldsOf(m_form) == before.fields;
    if (!m_connected) {
        if (!nothingHappened || m_boxes.texts.size() != before.boxes)
            report(Severity::Other, QStringLiteral("a write without connection did something"));
        return;
    }
    if (before.write.isEmpty()) {
        const QString box =
            QStringLiteral("'%1' is not a valid integer value.").arg(before.badText);
        if (m_boxes.texts.size() != before.boxes + 1 || m_boxes.texts.last() != box)
            report(Severity::Other,
                   QStringLiteral("bad text '%1' not reported as '%2'").arg(before.badText, box));
        if (!nothingHappened)
            report(Severity::Other, QStringLiteral("a write with bad text did something"));
        return;
    }
    m_held = before.write; // the window's values are in the transfer block now
    if (!m_programPortOk) {
        if (lines.contains(QStringLiteral("Записано.")))
            report(Severity::FalseSuccess,
                   QStringLiteral("a write logged success with the port gone"));
        if (lines.size() != 2 || !lines[1].startsWith(QStringLiteral("Ошибка записи")))
            report(Severity::Other, QStringLiteral("a write to a gone port not reported"));
        if (!rx.isEmpty())
            report(Severity::Other, QStringLiteral("bytes reached a unit that is gone"));
        return;
    }
    const QByteArray reads(readsFor(fault, true, true), 'R');
    if (rx.size() != 1 + BlockSize + reads.size() || rx[0] != 'S' ||
        rx.mid(1 + BlockSize) != reads) {
        report(Severity::Other,
               QStringLiteral("the unit received %1 bytes, not 'S', a block and %2")
                   .arg(rx.size())
                   .arg(QString::fromLatin1(reads)));
    }
    if (rx.size() > BlockSize && rx[0] == 'S') {
        const QByteArray block = rx.mid(1, BlockSize);
        if (block != before.write)
            report(Severity::DataCorrupted,
                   QStringLiteral("the block written is not the window over the last settings: ") +
                       offsetsDiffering(block, before.write));
        else
            ++writesChecked;
    }
    const QStringList head{QStringLiteral("Запись настроек..."), QStringLiteral("Записано."),
                           QStringLiteral("Чтение настроек...")};
    if (lines.mid(0, 3) != head) {
        report(Severity::Other, QStringLiteral("a write logged something unexpected"));
        return;
    }
    checkSettingsRead(fault, lines.mid(3), tx, true);
    // The unit stores what it was sent, so a read-back that is taken equals it, whatever the
    // line did to the replies on their way.
    if (lines.value(4) == ReadDone && m_held != before.write)
        report(Severity::Other, QStringLiteral("the read-back differs from the block written: ") +
                                    offsetsDiffering(m_held, before.write));
}

void Soak::checkReset(const Fault &fault, const Before &before, const QStringList &lines,
                      const QByteArray &rx)
{
    if (!m_connected) {
        if (!lines.isEmpty() || !rx.isEmpty() || !(fieldsOf(m_form) == before.fields))
            report(Severity::Other, QStringLiteral("a reset without connection did something"));
        return;
    }
    const QByteArray expected = FactoryHead + m_held.mid(FactoryHead.size());
    m_held = expected;
    Fields fields = fieldsOf(m_form);
    if (m_form.TrackBar2->value() != 39 || m_form.Edit21->text() != QStringLiteral("39"))
        report(Severity::Other, QStringLiteral("a reset did not move the frequency bar to 39"));
    Fields wanted = before.fields;
    wanted.bars[1] = fields.bars[1];
    wanted.texts[13] = fields.texts[13]; // Edit21
    if (!(fields == wanted))
        report(Severity::Other, QStringLiteral("a reset changed the setting fields"));

    const bool success = lines.contains(QStringLiteral("Завдские настройки"));
    if (!m_programPortOk) {
        if (success)
            report(Severity::FalseSuccess, QStringLiteral("a reset succeeded with the port gone"));
        if (lines.size() != 1 || !lines[0].startsWith(QStringLiteral("Ошибка записи")))
            report(Severity::Other, QStringLiteral("a reset to a gone port not reported"));
        if (!rx.isEmpty())
            report(Severity::Other, QStringLiteral("bytes reached a unit that is gone"));
        return;
    }
    const QByteArray reads(readsFor(fault, true, true), 'R');
    if (rx.size() != 1 + BlockSize + reads.size() || rx[0] != 'S' || rx.mid(1 + BlockSize) != reads)
        report(Severity::Other,
               QStringLiteral("the unit received %1 bytes, not 'S', a block and %2")
                   .arg(rx.size())
                   .arg(QString::fromLatin1(reads)));
    if (rx.size() > BlockSize && rx[0] == 'S') {
        const QByteArray block = rx.mid(1, BlockSize);
        if (block != expected)
            report(Severity::DataCorrupted,
                   QStringLiteral("the reset block is not the factory values over the last "
                                  "settings: ") +
                       offsetsDiffering(block, expected));
        else
            ++resetsChecked;
    }
    if (lines.value(0) != QStringLiteral("Запись...")) {
        report(Severity::Other, QStringLiteral("a reset logged something unexpected"));
        return;
    }
    // The unit stores the factory block whatever the line does to the read-back on its way:
    // the check must find it, or refuse a read-back it cannot confirm as a whole.
    const QStringList result = lines.mid(1);
    const QStringList checked{QStringLiteral("Завдские настройки")};
    const QStringList refused{Bang, QStringLiteral("Ошибок:"), QString::number(BlockSize), Bang};
    if (fault.is(FaultKind::None) || fault.is(FaultKind::Late) || fault.is(FaultKind::JunkOnce) ||
        fault.is(FaultKind::Corrupt)) {
        if (result != checked)
            report(Severity::Other,
                   QStringLiteral("a reset of a healthy unit reported differences"));
    } else if (fault.is(FaultKind::ShiftOnce)) {
        if (result != checked && result != refused)
            report(Severity::Other, QStringLiteral("a shifted read-back was counted, not refused"));
    } else if (fault.is(FaultKind::Silent) || fault.is(FaultKind::Short)) {
        if (success)
            report(Severity::FalseSuccess,
                   QStringLiteral("a reset whose read-back did not come whole reported success"));
        else if (result.value(1) != QStringLiteral("Ошибок:"))
            report(Severity::Other, QStringLiteral("a failed read-back reported oddly"));
    }
}

void Soak::checkUpload(bool messages, const Fault &fault, const QStringList &lines,
                       const QByteArray &rx)
{
    if (!m_connected) {
        if (!lines.isEmpty() || !rx.isEmpty())
            report(Severity::Other, QStringLiteral("an upload without connection did something"));
        return;
    }
    const std::vector<Slot> files =
        messages ? std::vector<Slot>{Slot::Ppk1, Slot::Ppk2} : std::vector<Slot>{Slot::Siren};
    // The files are checked before anything goes out.
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Sound &sound = m_sounds[int(files[i])];
        if (sound.usable)
            continue;
        const QString file = QLatin1String(SoundNames[int(files[i])]);
        const bool said =
            lines.size() == int(i) + 2 && lines.last().startsWith(QStringLiteral("Файл ") + file);
        if (!said)
            report(Severity::Other, QStringLiteral("a bad %1.wav was not reported").arg(file));
        if (!rx.isEmpty())
            report(Severity::Other, QStringLiteral("bytes went out before the files were checked"));
        return;
    }

    QStringList success;
    QByteArray wire;
    int total = 0;
    if (messages) {
        const Sound &a = m_sounds[int(Slot::Ppk1)];
        const Sound &b = m_sounds[int(Slot::Ppk2)];
        success = QStringList{QStringLiteral("Открытие PPK1.WAV"),
                              QStringLiteral("Открытие PPK2.WAV"),
                              QStringLiteral("Соединение с устройством..."),
                              QStringLiteral("Успешно"),
                              QStringLiteral("Запись PPK1"),
                              QStringLiteral("Записано"),
                              QStringLiteral("Запись PPK2"),
                              QStringLiteral("Записано")};
        wire = QByteArray(1, char(0x60));
        for (int count : {a.blocks, b.blocks})
            wire += QByteArray(1, char(count >> 8)) + QByteArray(1, char(count & 0xFF));
        wire += a.whole + b.whole;
        total = a.blocks + b.blocks;
    } else {
        const Sound &s = m_sounds[int(Slot::Siren)];
        success = QStringList{
            QStringLiteral("Открытие SIREN.WAV"), QStringLiteral("Соединение с устройством ..."),
            QStringLiteral("Успешно"), QStringLiteral("Запись SIREN"), QStringLiteral("Успешно")};
        wire = QByteArray(1, char(0x70)) + QByteArray(1, char(s.blocks >> 8)) +
               QByteArray(1, char(s.blocks & 0xFF)) + s.whole;
        total = s.blocks;
    }
    const bool succeeded = lines == success;
    const bool failed = !lines.isEmpty() &&
                        (lines.last() == NoAnswer || lines.last() == LostLine) &&
                        success.mid(0, int(lines.size()) - 1) == lines.mid(0, lines.size() - 1);
    if (!succeeded && !failed)
        report(Severity::Other, QStringLiteral("an upload ended neither in success nor failure"));

    const bool hungUp = fault.is(FaultKind::HangupAfter) && fault.n <= total;
    const bool mustFail = !m_programPortOk || fault.is(FaultKind::Silent) ||
                          (fault.is(FaultKind::FfOnly) && total > 0) ||
                          (fault.is(FaultKind::StopAfter) && fault.n < total) || hungUp;
    if (succeeded && mustFail)
        report(Severity::FalseSuccess,
               QStringLiteral("an upload reported success though the unit did not take it"));
    if (failed && !mustFail)
        report(Severity::Other, QStringLiteral("an upload to a healthy unit failed"));

    LastUpload &last = messages ? m_lastMessages : m_lastSiren;
    if (!rx.isEmpty()) {
        last.started = true;
        last.failed = !succeeded;
        last.first = m_sounds[int(files[0])].whole;
        last.second = messages ? m_sounds[int(Slot::Ppk2)].whole : QByteArray();
    }
    if (succeeded) {
        if (rx != wire)
            report(Severity::DataCorrupted,
                   QStringLiteral("the unit received other bytes than the files hold: ") +
                       offsetsDiffering(rx, wire));
        bool stored = true;
        for (Slot s : files) {
            if (recording(s) != m_sounds[int(s)].whole) {
                stored = false;
                report(Severity::DataCorrupted, QStringLiteral("%1 stored differs from its file")
                                                    .arg(QLatin1String(SoundNames[int(s)])));
            }
        }
        if (stored && rx == wire)
            ++uploadsChecked;
    } else if (!wire.startsWith(rx)) {
        report(Severity::Other, QStringLiteral("a failed upload sent bytes not its own: ") +
                                    offsetsDiffering(rx, wire));
    }
    if (hungUp && m_programPortOk) {
        portGone();
        if (m_form.connected())
            report(Severity::Other, QStringLiteral("still connected after the line was lost"));
        m_connected = m_form.connected();
    }
    if (failed && (fault.is(FaultKind::FfOnly) || fault.is(FaultKind::StopAfter)))
        m_sim.clock().sleep(UnitStallMs);
}

void Soak::checkMeasurement(Op op, const Fault &fault, const Before &before, const QByteArray &rx,
                            const QByteArray &tx)
{
    const int exchanges = op == Op::Ticks ? m_ticks : 1;
    if (!(fieldsOf(m_form) == before.fields))
        report(Severity::DataCorrupted, QStringLiteral("a measurement changed the setting fields"));
    if (!m_lines.isEmpty())
        report(Severity::Other, QStringLiteral("a measurement logged something"));
    const QByteArray requests = m_programPortOk ? QByteArray(exchanges, char(0x10)) : QByteArray();
    if (rx != requests)
        report(Severity::Other, QStringLiteral("the unit received %1").arg(rx.toHex()));
    // Faults that cut or shift a reply: whatever is shown must be a reply the unit sent whole,
    // never bytes of two.
    if (fault.is(FaultKind::JunkOnce) || fault.is(FaultKind::SplitOnce) ||
        fault.is(FaultKind::TailOnce) || fault.is(FaultKind::ShiftOnce)) {
        const QStringList shown = measuredTexts(m_form);
        if (shown == before.measured)
            return;
        const int junk =
            fault.is(FaultKind::JunkOnce) || fault.is(FaultKind::ShiftOnce) ? fault.n : 0;
        for (qsizetype at = junk; at + MeasurementSize <= tx.size(); at += MeasurementSize) {
            if (measurementText(tx.mid(at, MeasurementSize)) == shown) {
                ++measurementsChecked;
                return;
            }
        }
        report(Severity::DataCorrupted,
               QStringLiteral("a measurement shown that the unit never sent: %1 / %2")
                   .arg(shown.join(QLatin1Char(' ')), QString::fromLatin1(tx.toHex())));
        return;
    }
    const bool whole = m_programPortOk && !fault.is(FaultKind::Silent) &&
                       !(fault.is(FaultKind::Short) && fault.n < MeasurementSize);
    const qint64 points = m_form.trend().count() - before.points;
    if (!whole) {
        if (measuredTexts(m_form) != before.measured || points != 0)
            report(Severity::FalseSuccess,
                   QStringLiteral("a measurement that did not come whole was shown"));
        return;
    }
    if (tx.size() < MeasurementSize ||
        measuredTexts(m_form) != measurementText(tx.right(MeasurementSize)))
        report(Severity::Other, QStringLiteral("the measurement shown is not the unit's: %1 / %2")
                                    .arg(measuredTexts(m_form).join(QLatin1Char(' ')),
                                         QString::fromLatin1(tx.right(MeasurementSize).toHex())));
    else
        ++measurementsChecked;
    if (points != (op == Op::Ticks ? exchanges : 0))
        report(Severity::Other, QStringLiteral("%1 chart points for %2 ticks")
                                    .arg(points)
                                    .arg(op == Op::Ticks ? exchanges : 0));
}

// A line lost under a program that holds it is said once, and ends the connection.
void Soak::checkHangup()
{
    const QStringList want = m_heldWhenLost ? QStringList{LostLine} : QStringList{};
    if (m_lines != want)
        report(Severity::Other, QStringLiteral("a lost line was not said exactly once"));
    if (m_heldWhenLost) {
        if (m_form.connected())
            report(Severity::Other, QStringLiteral("still connected after the line was lost"));
        if (m_form.channel().isOpen())
            report(Severity::Other, QStringLiteral("the lost port is still open"));
        m_connected = false;
    }
}

void Soak::checkScan(const QStringList &lines)
{
    m_programPortOk = false;
    QStringList want{QStringLiteral("Доступные порты")};
    if (m_portUp)
        want << QStringLiteral("COM5");
    want << QStringLiteral("-------------");
    if (lines != want)
        report(Severity::Other, QStringLiteral("the scan listed something else"));
}

// A recording that changes must be what its upload sent, unless that upload was reported as
// failed.
void Soak::checkRecordings()
{
    for (int i = 0; i < 3; ++i) {
        const QByteArray now = recording(Slot(i));
        if (now == m_recorded[i])
            continue;
        m_recorded[i] = now;
        const LastUpload &last = Slot(i) == Slot::Siren ? m_lastSiren : m_lastMessages;
        const QByteArray &want = Slot(i) == Slot::Ppk2 ? last.second : last.first;
        if (last.started && now == want)
            continue;
        if (last.started && last.failed) {
            ++recordingsExcused;
            continue;
        }
        report(
            Severity::DataCorrupted,
            QStringLiteral("%1 stored is not what was uploaded").arg(QLatin1String(SoundNames[i])));
    }
}

} // namespace

class SoakTest : public QObject {
    Q_OBJECT

private slots:
    void faultSoak();
};

void SoakTest::faultSoak()
{
    bool ok = false;
    quint64 seed = qEnvironmentVariable("TARVIK2_SOAK_SEED").toULongLong(&ok);
    if (!ok)
        seed = DefaultSeed;
    int count = qEnvironmentVariableIntValue("TARVIK2_SOAK_OPS", &ok);
    if (!ok || count <= 0)
        count = DefaultOperations;
    const bool trace = qEnvironmentVariableIntValue("TARVIK2_SOAK_TRACE") != 0;
    qInfo().noquote() << QStringLiteral("soak: seed=%1 operations=%2").arg(seed).arg(count);
    QCOMPARE(FactoryHead.size(), 50);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });

    QElapsedTimer elapsed;
    elapsed.start();
    // The unit's line opens as COM5, the window's default port, behind the USB adapter that
    // TARVIK2_SOAK_ADAPTER names; the line tells the program the adapter's figures.
    const QString adapter = qEnvironmentVariable("TARVIK2_SOAK_ADAPTER", QStringLiteral("none"));
    SimulatedUnit unit(adapter);
    ErrorBoxCatcher boxes;
    TForm1 form(unit.line(), unit.clock());
    QVERIFY(waitIdle(form));
    Soak soak(form, unit, boxes, seed, trace);
    unit.setBlock(soak.randomBlock());

    for (int i = 0; i < count; ++i) {
        if (!soak.step(i) || QTest::currentTestFailed())
            break;
    }
    const double seconds = elapsed.elapsed() / 1000.0;
    qInfo().noquote() << QStringLiteral("soak: operations=%1 faults=%2 failures_reported=%3 "
                                        "data_corrupted=%4 seed=%5 elapsed=%6s")
                             .arg(soak.operations)
                             .arg(soak.faults)
                             .arg(soak.failuresReported)
                             .arg(soak.dataCorrupted)
                             .arg(seed)
                             .arg(seconds, 0, 'f', 1);
    qInfo().noquote() << QStringLiteral("soak: checked writes=%1 resets=%2 reads=%3 uploads=%4 "
                                        "measurements=%5 recordings_excused=%6 false_success=%7 "
                                        "violations=%8 false_refusals=%9 unconfirmed=%10 "
                                        "longest_op=%11ms adapter=%12")
                             .arg(soak.writesChecked)
                             .arg(soak.resetsChecked)
                             .arg(soak.readsChecked)
                             .arg(soak.uploadsChecked)
                             .arg(soak.measurementsChecked)
                             .arg(soak.recordingsExcused)
                             .arg(soak.falseSuccesses)
                             .arg(soak.violations)
                             .arg(soak.falseRefusals)
                             .arg(soak.unconfirmed)
                             .arg(soak.longestMs)
                             .arg(adapter);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY2(soak.violations == 0, qPrintable(soak.firstViolation));
    QCOMPARE(soak.dataCorrupted, 0);
    QCOMPARE(soak.falseRefusals, 0);
    QCOMPARE(soak.operations, count);
    // A soak that never got a write, a reset or an upload through has proved nothing.
    if (count >= 500) {
        QVERIFY(soak.writesChecked > 0);
        QVERIFY(soak.resetsChecked > 0);
        QVERIFY(soak.readsChecked > 0);
        QVERIFY(soak.uploadsChecked > 0);
        QVERIFY(soak.measurementsChecked > 0);
    }
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
