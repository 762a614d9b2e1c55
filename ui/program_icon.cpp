#include "ui/program_icon.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>

// The resource lives in a static library: this reference is what links it into
// every program and test that asks for the icon. Outside the namespace, because
// Q_INIT_RESOURCE declares its function where it stands.
static void initAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace tarvic {

namespace {

QString drawing()
{
    return QStringLiteral(":/tarvic/tarvic.svg");
}

// The two hand-tuned images at 16 and 32 pixels (and, scaled from them, every size
// up to 32 and every mode but Normal); larger sizes drawn from the SVG when first
// asked for. Drawing eagerly would cost every start-up several milliseconds for
// sizes that a run that only starts a player never shows.
class ProgramIconEngine final : public QIconEngine
{
public:
    ProgramIconEngine()
    {
        for (const char *file : {":/tarvic/tarvic-16.png", ":/tarvic/tarvic-32.png"})
            if (QFile::exists(QLatin1String(file)))
                m_images.addFile(QLatin1String(file));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (size.isEmpty())
            return {};
        if (mode != QIcon::Normal || (size.width() <= 32 && size.height() <= 32))
            if (!m_images.isNull())
                return m_images.pixmap(size, mode, state);
        const quint64 key = (quint64(quint32(size.width())) << 32) | quint32(size.height());
        if (const auto it = m_drawn.constFind(key); it != m_drawn.cend())
            return *it;
        QImageReader reader(drawing());
        reader.setScaledSize(size);
        const QImage image = reader.read();
        // No svg plugin at run time: the 32-pixel image, scaled up, still shows the
        // picture (an icon's own pixmap() never scales up).
        const QPixmap pm = image.isNull()
            ? m_images.pixmap(size, mode, state).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            : QPixmap::fromImage(image);
        m_drawn.insert(key, pm);
        return pm;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }

    // The window icon a window manager receives: exactly the two hand-tuned images.
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_images.availableSizes(mode, state);
    }

    bool isNull() override { return m_images.isNull() && !QFile::exists(drawing()); }
    QString key() const override { return QStringLiteral("tarvic"); }
    QIconEngine *clone() const override { return new ProgramIconEngine(*this); }

private:
    QIcon m_images;
    QHash<quint64, QPixmap> m_drawn;
};

} // namespace

QIcon programIcon()
{
    initAssets();
    return QIcon(new ProgramIconEngine);
}

} // namespace tarvic
