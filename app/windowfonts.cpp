#include "app/windowfonts.h"

#include <QEvent>
#include <QFontDatabase>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <utility>
#include <vector>

namespace WindowFonts {

namespace {

const char *const BitmapFace = "MS Sans Serif";
const char *const OutlineFace = "Tahoma";
const char *const BoldFace = "DejaVu Sans";
const char *const Fallback = "DejaVu Sans";
// DejaVu Sans runs wider than the faces the boxes were measured for; narrowed by these
// percentages its texts fit them.
const int BoldStretch = 90;
const int FallbackStretch = 87;
// The point size of the window description, kept on each widget whose font apply() sets, so
// that a later choice for another scale starts from the layout and not from the last choice.
const char *const LayoutPoints = "tarvik2LayoutPoints";

bool loadFace(const char *file, const char *family)
{
    for (const char *dir : {"/usr/share/wine/fonts/", "/usr/share/fonts/truetype/wine/"}) {
        const int id = QFontDatabase::addApplicationFont(QLatin1String(dir) + QLatin1String(file));
        if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(QLatin1String(family)))
            return true;
    }
    return false;
}

struct Faces {
    bool bitmap;
    bool outline;
};

// Wine's Tahoma Bold is left out on purpose: its bold lives only in small bitmap strikes, and
// its outlines, which every scaled or antialiased text uses, are the regular ones.
const Faces &faces()
{
    static const Faces loaded{loadFace("ms_sans_serif.ttf", BitmapFace),
                              loadFace("tahoma.ttf", OutlineFace)};
    return loaded;
}

int characterHeight(int points)
{
    if (points >= 14)
        return 19;
    if (points >= 10)
        return 13;
    return 11;
}

// The face and pixel size for one text of the layout. The bitmap face is taken only where its
// one strike is exactly what the screen needs: 11-pixel regular characters on an unscaled
// screen, asked for as its 13-pixel cell. Everything else is drawn from outlines at the
// character height, which Qt scales with the screen: Tahoma for regular text, whose widths
// match the bitmap face's, and DejaVu Sans Bold, narrowed, for the headings.
QFont choose(QFont font, int points, qreal devicePixelRatio)
{
    const int height = characterHeight(points);
    const Faces &f = faces();
    font.setStretch(QFont::Unstretched);
    font.setPixelSize(height);
    if (font.bold()) {
        font.setFamily(QLatin1String(BoldFace));
        font.setStretch(BoldStretch);
    } else if (f.bitmap && height == 11 && devicePixelRatio == 1.0) {
        font.setFamily(QLatin1String(BitmapFace));
        font.setPixelSize(13);
    } else if (f.outline) {
        font.setFamily(QLatin1String(OutlineFace));
    } else {
        font.setFamily(QLatin1String(Fallback));
        font.setStretch(FallbackStretch);
    }
    return font;
}

qreal screenRatio(const QWidget *root)
{
    if (const QWindow *window = root->windowHandle())
        return window->devicePixelRatio();
    const QScreen *screen = root->screen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

void chooseAll(QWidget *root, qreal devicePixelRatio)
{
    std::vector<std::pair<QWidget *, QFont>> wanted;
    auto collect = [&](QWidget *w) {
        if (w != root && !w->testAttribute(Qt::WA_SetFont))
            return;
        QVariant points = w->property(LayoutPoints);
        if (!points.isValid()) {
            points = w->font().pointSize() > 0 ? w->font().pointSize() : 8;
            w->setProperty(LayoutPoints, points);
        }
        wanted.emplace_back(w, choose(w->font(), points.toInt(), devicePixelRatio));
    };
    collect(root);
    for (QWidget *w : root->findChildren<QWidget *>())
        collect(w);
    for (auto &[w, f] : wanted)
        w->setFont(f);
}

// Follows the window to other screens: once it has a native window, each change of screen
// chooses the fonts again for that screen's scale.
class ScreenWatch : public QObject {
public:
    ScreenWatch(QWidget *root, qreal devicePixelRatio)
        : QObject(root), m_root(root), m_ratio(devicePixelRatio)
    {
        root->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_root && event->type() == QEvent::Show && !m_window) {
            m_window = m_root->windowHandle();
            if (m_window)
                connect(m_window, &QWindow::screenChanged, this, &ScreenWatch::update);
            update();
        }
        return false;
    }

private:
    void update()
    {
        const qreal ratio = screenRatio(m_root);
        if (ratio == m_ratio)
            return;
        m_ratio = ratio;
        chooseAll(m_root, ratio);
    }

    QWidget *m_root;
    QWindow *m_window = nullptr;
    qreal m_ratio;
};

} // namespace

void apply(QWidget *root)
{
    const qreal ratio = screenRatio(root);
    chooseAll(root, ratio);
    new ScreenWatch(root, ratio);
}

} // namespace WindowFonts
