#include "app/windowfonts.h"

#include <QFontDatabase>
#include <QWidget>
#include <utility>
#include <vector>

namespace WindowFonts {

namespace {

const char *const BitmapFace = "MS Sans Serif";
const char *const Fallback = "DejaVu Sans";

bool loadBitmapFace()
{
    static const bool loaded = [] {
        for (const char *path : {"/usr/share/wine/fonts/ms_sans_serif.ttf",
                                 "/usr/share/fonts/truetype/wine/ms_sans_serif.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(path));
            if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(
                               QString::fromLatin1(BitmapFace)))
                return true;
        }
        return false;
    }();
    return loaded;
}

// Point size of the layout to the pixel size asked of the face.
int pixelSize(int points, bool bitmap)
{
    if (points >= 14)
        return bitmap ? 20 : 19;
    if (points >= 10)
        return bitmap ? 16 : 13;
    return bitmap ? 13 : 11;
}

} // namespace

const char *family() { return loadBitmapFace() ? BitmapFace : Fallback; }

void apply(QWidget *root)
{
    const bool bitmap = loadBitmapFace();
    const QString face = QString::fromLatin1(family());

    std::vector<std::pair<QWidget *, QFont>> wanted;
    auto collect = [&](QWidget *w) {
        if (w == root || w->testAttribute(Qt::WA_SetFont)) {
            QFont f = w->font();
            const int points = f.pointSize() > 0 ? f.pointSize() : 8;
            f.setFamily(face);
            f.setPixelSize(pixelSize(points, bitmap));
            wanted.emplace_back(w, f);
        }
    };
    collect(root);
    for (QWidget *w : root->findChildren<QWidget *>())
        collect(w);
    for (auto &[w, f] : wanted)
        w->setFont(f);
}

} // namespace WindowFonts
