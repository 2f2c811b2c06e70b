#include "Console.h"

#include <QByteArray>

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

void Out(const QString &line)
{
    ClearProgress();
    Write(stdout, line + QLatin1Char('\n'));
}

void Err(const QString &line)
{
    ClearProgress();
    Write(stderr, line + QLatin1Char('\n'));
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
    Write(stdout, QStringLiteral("\r\033[K") + text);
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
