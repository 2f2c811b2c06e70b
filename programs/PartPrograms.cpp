#include "programs/PartPrograms.h"

#include "platform/PlatformFiles.h"
#include "programs/ProgramText.h"
#include "platform/RegularFiles.h"

#include <QFile>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QStringView>

#include <climits>
#include <iterator>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcPrograms, "packagemanager.programs", QtWarningMsg)

// Most programs decide within their first lines: a small first read keeps the bytes read
// per qualifying file low; files that go on are read in larger pieces.
constexpr qint64 FirstReadSize = 4096;
constexpr qint64 NextReadSize = 65536;

enum class Verdict { Undecided, Yes, No };

// Decodes the file piece by piece and hands every character to the scanner until it
// decides; memory stays bounded whatever the length of the file or of its lines.
template <typename Scanner> bool ScanText(const QFileInfo &fileInfo, Scanner &scanner)
{
    const QString path = fileInfo.absoluteFilePath();
    if (path.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    // A FIFO or device in a parts folder must not block or feed the scan forever. The
    // descriptor itself: a QFile around it would cost four more system calls per file, and
    // a start-up tests two files of every package.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const auto readInto = [fd](char *buffer, qint64 size) -> qint64 {
        for (;;) {
            const ssize_t count = ::read(fd, buffer, size_t(size));
            if (count >= 0 || errno != EINTR)
                return qint64(count);
        }
    };
    const auto readError = [] { return QString::fromLocal8Bit(::strerror(errno)); };
#else
    QFile file;
    if (!Platform::OpenRegularFile(file, path, Platform::LinkPolicy::Follow, QIODevice::Unbuffered))
        return false;
    const auto readInto = [&file](char *buffer, qint64 size) { return file.read(buffer, size); };
    const auto readError = [&file] { return file.errorString(); };
#endif

#ifdef Q_OS_WIN
    QStringDecoder decoder(QStringConverter::System);
#else
    QStringDecoder decoder(QStringConverter::Utf8);
#endif
    // The first read goes to the stack: most files decide there, and a pair of large heap
    // blocks for every file costs more than reading it (the allocator maps or grows the heap
    // for them and gives the memory back at once). Files that go on get larger blocks, left
    // uninitialised. UTF-8 needs the most room: about one character per byte.
    char firstBytes[FirstReadSize];
    char16_t firstText[FirstReadSize + 16];
    std::unique_ptr<char[]> laterBytes;
    std::unique_ptr<char16_t[]> laterText;
    char *bytes = firstBytes;
    QChar *textStart = reinterpret_cast<QChar *>(firstText);
    if (decoder.requiredSpace(FirstReadSize) > qsizetype(std::size(firstText))) {
        laterText.reset(new char16_t[decoder.requiredSpace(FirstReadSize)]);
        textStart = reinterpret_cast<QChar *>(laterText.get());
    }
    qint64 readSize = FirstReadSize;
    bool firstRead = true;
    for (;;) {
        const qint64 count = readInto(bytes, readSize);
        if (count < 0) {
            qCWarning(lcPrograms) << "cannot read" << path << readError();
            return false;
        }
        if (count == 0)
            break;
        QByteArrayView chunk(bytes, count);
        if (firstRead) {
            firstRead = false;
            // A UTF-16 program announces itself with its byte-order mark, as a text stream
            // would detect it.
            if (const auto utf16 = ProgramText::Utf16ByteOrder(chunk)) {
                decoder = QStringDecoder(*utf16);
                chunk = chunk.sliced(2);
            }
        }
        const QChar *end = decoder.appendToBuffer(textStart, chunk);
        for (const QChar *c = textStart; c != end; ++c) {
            const Verdict verdict = scanner.Feed(*c);
            if (verdict != Verdict::Undecided)
                return verdict == Verdict::Yes;
        }
        if (!laterBytes) {
            readSize = NextReadSize;
            laterBytes.reset(new char[NextReadSize]);
            laterText.reset(new char16_t[decoder.requiredSpace(NextReadSize)]);
            bytes = laterBytes.get();
            textStart = reinterpret_cast<QChar *>(laterText.get());
        }
    }
    // The last line may have no line end.
    return scanner.EndOfLine() == Verdict::Yes;
}

// The number after a G or M letter, read as ReadNumberAt would: a run of digits that must
// be ASCII and fit a signed 32-bit integer.
class WordNumber
{
public:
    enum State { NoLetter, AfterLetter, InDigits, Done };

    void Reset() { *this = WordNumber(); }
    bool LetterSeen() const { return state != NoLetter; }
    void StartAfterLetter() { state = AfterLetter; }

    // Returns true once the number is complete and valid.
    bool Feed(QChar c)
    {
        switch (state) {
        case NoLetter:
        case Done:
            return false;
        case AfterLetter:
            if (!c.isDigit()) {
                state = Done;
                return false;
            }
            state = InDigits;
            AddDigit(c);
            return false;
        case InDigits:
            if (c.isDigit()) {
                AddDigit(c);
                return false;
            }
            state = Done;
            return valid;
        }
        return false;
    }

    // The line ended: a number that ran to the line's end counts as well.
    bool Finish()
    {
        const bool result = state == InDigits && valid;
        state = Done;
        return result;
    }

private:
    void AddDigit(QChar c)
    {
        const char16_t u = c.unicode();
        if (u < u'0' || u > u'9') {
            valid = false; // QString::toInt takes ASCII digits only
            return;
        }
        value = value * 10 + (u - u'0');
        if (value > INT_MAX) {
            valid = false;
            value = qint64(INT_MAX) + 1; // stays out of range without overflowing
        }
    }

    State state = NoLetter;
    qint64 value = 0;
    bool valid = true;
};

// The NC test, one character at a time, for lines trimmed of white space at both ends.
class NCTextScanner
{
public:
    Verdict Feed(QChar c)
    {
        if (c == QLatin1Char('\n'))
            return EndOfLine();
        if (!lineStarted) {
            if (c.isSpace())
                return Verdict::Undecided;
            lineStarted = true;
            if (c.unicode() > 127)
                return Verdict::No;
        }

        // "(OVT Tutorial" holds no second "(", so a mismatch restarts at this character.
        static constexpr char16_t Marker[] = u"(OVT Tutorial";
        static constexpr int MarkerLength = int(sizeof(Marker) / sizeof(Marker[0])) - 1;
        if (c.unicode() == Marker[markerMatched]) {
            if (++markerMatched == MarkerLength)
                return Verdict::Yes;
        } else {
            markerMatched = c == QLatin1Char('(') ? 1 : 0;
        }

        // Only the line's first G counts; once a line has a G its M is never examined.
        if (g.Feed(c))
            return Verdict::Yes;
        if (!g.LetterSeen()) {
            if (c == QLatin1Char('G')) {
                g.StartAfterLetter();
            } else {
                if (m.Feed(c))
                    mValid = true;
                if (c == QLatin1Char('M') && !m.LetterSeen())
                    m.StartAfterLetter();
            }
        }
        return Verdict::Undecided;
    }

    Verdict EndOfLine()
    {
        Verdict verdict = Verdict::Undecided;
        if (g.LetterSeen()) {
            if (g.Finish())
                verdict = Verdict::Yes;
        } else if (mValid || m.Finish()) {
            verdict = Verdict::Yes;
        }
        lineStarted = false;
        markerMatched = 0;
        g.Reset();
        m.Reset();
        mValid = false;
        return verdict;
    }

private:
    bool lineStarted = false;
    int markerMatched = 0;
    WordNumber g;
    WordNumber m;
    bool mValid = false;
};

// The conversational test: whole trimmed lines "N1" and "N2", without regard to case.
class ConvScanner
{
public:
    Verdict Feed(QChar c)
    {
        if (c == QLatin1Char('\n'))
            return EndOfLine();
        if (c.isSpace()) {
            spaceAfterText = length > 0;
            return Verdict::Undecided;
        }
        if (spaceAfterText)
            split = true; // white space inside the line: not a lone block number
        if (length < 2)
            token[length] = c;
        if (length < 3)
            ++length;
        return Verdict::Undecided;
    }

    Verdict EndOfLine()
    {
        if (!split && length == 2 && (token[0] == QLatin1Char('N') || token[0] == QLatin1Char('n'))) {
            if (token[1] == QLatin1Char('1'))
                seenN1 = true;
            else if (token[1] == QLatin1Char('2'))
                seenN2 = true;
        }
        length = 0;
        spaceAfterText = false;
        split = false;
        return seenN1 && seenN2 ? Verdict::Yes : Verdict::Undecided;
    }

private:
    QChar token[2];
    int length = 0;
    bool spaceAfterText = false;
    bool split = false;
    bool seenN1 = false;
    bool seenN2 = false;
};

bool HasConvSuffix(const QFileInfo &file)
{
    return Platform::SameNameNoCase(file.suffix(), QStringLiteral("CNV"));
}

} // namespace

int ReadNumberAt(const QString &text, int position)
{
    if (position < 0 || position >= text.size())
        return -1;
    int end = position;
    while (end < text.size() && text.at(end).isDigit())
        ++end;
    if (end == position)
        return -1;
    bool ok = false;
    const int value = QStringView(text).mid(position, end - position).toInt(&ok, 10);
    return ok ? value : -1;
}

bool IsNCProgramText(const QFileInfo &file)
{
    NCTextScanner scanner;
    return ScanText(file, scanner);
}

bool IsCONVProgramFile(const QFileInfo &file)
{
    // Decided by the name alone: the file is not opened.
    if (!HasConvSuffix(file))
        return false;
    ConvScanner scanner;
    return ScanText(file, scanner);
}

bool IsPartProgramFile(const QFileInfo &file)
{
    if (IsCONVProgramFile(file))
        return true;
    if (file.suffix().isEmpty() && !file.fileName().isEmpty()) {
        // The companion as the control names it, and in the lower case that other tools
        // write (on Windows both are the same file).
        const QString path = file.absoluteFilePath();
        if (IsCONVProgramFile(QFileInfo(path + QLatin1String(".CNV"))) ||
            IsCONVProgramFile(QFileInfo(path + QLatin1String(".cnv"))))
            return true;
    }
    return IsNCProgramText(file);
}
