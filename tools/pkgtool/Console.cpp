#include "Console.h"

#include <QByteArray>
#include <QStringList>
#include <QStringView>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define PKGTOOL_ISATTY _isatty
#define PKGTOOL_FILENO _fileno
#else
#include <unistd.h>
#define PKGTOOL_ISATTY isatty
#define PKGTOOL_FILENO fileno
#endif

namespace Console {

namespace {
bool progressShown = false;

bool NeedsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x200e || c == 0x200f || (c >= 0x2028 && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

QString Hex(char16_t c, int digits)
{
    return QString::number(uint(c), 16).rightJustified(digits, QLatin1Char('0'));
}

void Write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void ClearProgress()
{
    if (progressShown) {
        Write(stdout, QStringLiteral("\r\033[K"));
        progressShown = false;
    }
}
} // namespace

QString Escaped(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        if (!NeedsEscape(c))
            shown += character;
        else if (c <= 0xff)
            shown += QLatin1String("\\x") + Hex(c, 2);
        else
            shown += QLatin1String("\\u") + Hex(c, 4);
    }
    return shown;
}

QString EscapedJson(const QString &json)
{
    QString shown;
    shown.reserve(json.size());
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char16_t c = json.at(i).unicode();
        if (inString && c == u'\\' && i + 1 < json.size()) {
            const char16_t next = json.at(i + 1).unicode();
            const int position = QStringView(u"btnfr").indexOf(QChar(next));
            static const char16_t shortForms[] = {0x08, 0x09, 0x0a, 0x0c, 0x0d};
            if (position >= 0)
                shown += QLatin1String("\\u") + Hex(shortForms[position], 4);
            else
                shown += QStringView(json).mid(i, 2);
            ++i;
            continue;
        }
        if (c == u'"')
            inString = !inString;
        if (inString && NeedsEscape(c))
            shown += QLatin1String("\\u") + Hex(c, 4);
        else
            shown += QChar(c);
    }
    return shown;
}

void Out(const QString &line)
{
    ClearProgress();
    Write(stdout, Escaped(line) + QLatin1Char('\n'));
}

void Err(const QString &line)
{
    ClearProgress();
    Write(stderr, Escaped(line) + QLatin1Char('\n'));
}

void OutLines(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        Out(line);
}

void ErrLines(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        Err(line);
}

bool IsTerminal()
{
    static const bool terminal = PKGTOOL_ISATTY(PKGTOOL_FILENO(stdout)) != 0;
    return terminal;
}

void Progress(const QString &text)
{
    if (!IsTerminal())
        return;
    if (text.isEmpty()) {
        ClearProgress();
        return;
    }
    Write(stdout, QStringLiteral("\r\033[K") + Escaped(text));
    progressShown = true;
}

int Fail(const QString &what, const QString &where)
{
    if (where.isEmpty())
        Err(QStringLiteral("pkgtool: ") + what);
    else
        Err(QStringLiteral("pkgtool: ") + what + QStringLiteral(": ") + where);
    return Failure;
}

} // namespace Console
