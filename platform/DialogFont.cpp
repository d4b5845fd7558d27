// Dialog fonts and their base units, computed as Win32 computes them.
#include "QtPlatform.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHash>
#include <QRawFont>

#include <cmath>

namespace {

// Wine's fonts (Debian's fonts-wine) live outside fontconfig's directories.
const char *const WineFontDirectory = "/usr/share/wine/fonts";

// Windows sizes fonts at 96 pixels per inch, whatever the screen reports.
constexpr int LogicalDpi = 96;

// Never freed: message boxes may still be shown while the process ends.
QFont *messageFont = nullptr;

// The family to use for a typeface, loading Wine's file of that name
// ("Tahoma" is tahoma.ttf) when the font database lacks it; empty if neither
// has it.
QString FamilyFor(const QString &typeface)
{
    static QHash<QString, QString> families;
    QString key = typeface.toLower();
    auto known = families.constFind(key);
    if (known != families.constEnd())
        return *known;

    QString family;
    for (const QString &candidate : QFontDatabase::families()) {
        if (candidate.compare(typeface, Qt::CaseInsensitive) == 0)
            family = candidate;
    }
    if (family.isEmpty() && !typeface.isEmpty()) {
        QString file = QStringLiteral("%1/%2.ttf")
                           .arg(QLatin1String(WineFontDirectory), QString(key).replace(' ', '_'));
        int id = QFontDatabase::addApplicationFont(file);
        if (id >= 0)
            family = QFontDatabase::applicationFontFamilies(id).value(0);
    }
    families.insert(key, family);
    return family;
}

int BigEndian16(const QByteArray &table, int offset)
{
    return (static_cast<unsigned char>(table[offset]) << 8) |
           static_cast<unsigned char>(table[offset + 1]);
}

// The height Windows gives a TrueType font at pixelsPerEm: its Windows ascent
// and descent from the OS/2 table, each scaled by the em size from the head
// table and rounded. 0 when the font lacks the tables.
int WindowsFontHeight(const QFont &font, int pixelsPerEm)
{
    QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid())
        return 0;
    QByteArray os2 = raw.fontTable("OS/2");
    QByteArray head = raw.fontTable("head");
    if (os2.size() < 78 || head.size() < 20)
        return 0;
    int unitsPerEm = BigEndian16(head, 18);
    int winAscent = BigEndian16(os2, 74);
    int winDescent = BigEndian16(os2, 76);
    if (unitsPerEm == 0)
        return 0;
    auto scale = [&](int units) {
        return static_cast<int>(std::lround(double(units) * pixelsPerEm / unitsPerEm));
    };
    return scale(winAscent) + scale(winDescent);
}

} // namespace

namespace platform {

DialogFont LoadDialogFont(const QString &typeface, int pointSize, int weight, bool italic)
{
    int pixelsPerEm = MulDiv(pointSize > 0 ? pointSize : 8, LogicalDpi, 72);

    DialogFont result;
    QString family = FamilyFor(typeface);
    result.substitute = family.isEmpty();
    if (!result.substitute) {
        result.font.setFamily(family);
    } else {
        result.font.setFamily(QStringLiteral("Sans Serif"));
        result.font.setStyleHint(QFont::SansSerif);
    }
    result.font.setPixelSize(pixelsPerEm);
    result.font.setWeight(weight > 0 ? QFont::Weight(qBound(1, weight, 1000)) : QFont::Normal);
    result.font.setItalic(italic);
    // Whole-pixel advances, as GDI measures and draws text.
    result.font.setHintingPreference(QFont::PreferFullHinting);

    QFontMetrics metrics(result.font);
    int extent = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    result.baseX = (extent / 26 + 1) / 2;
    result.baseY = result.substitute ? 0 : WindowsFontHeight(result.font, pixelsPerEm);
    if (result.baseY <= 0)
        result.baseY = metrics.height();
    return result;
}

QFont MessageFont()
{
    // Before any dialog, the dialog font of Win32's shell (Tahoma, 8 points).
    if (!messageFont)
        SetMessageFont(LoadDialogFont(QStringLiteral("Tahoma"), 8, 400, false).font);
    return *messageFont;
}

void SetMessageFont(const QFont &font)
{
    if (messageFont)
        *messageFont = font;
    else
        messageFont = new QFont(font);
}

} // namespace platform
