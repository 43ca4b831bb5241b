// lumora-images: draws the window's pictures and the desktop icon. The results are committed;
// run it again only after changing a drawing here:
//   lumora-images qml packaging
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>
#include <cmath>
#include <cstdio>

#include "platform/program_version.h"
#include "tools/images/gif_writer.h"

namespace {

constexpr qreal kPi = 3.14159265358979323846;

const QColor kTeal(0x13, 0xa3, 0x9b);
const QColor kDeepTeal(0x0b, 0x6e, 0x79);
const QColor kInk(0x16, 0x32, 0x4a);
const QColor kGreen(0x2e, 0x9e, 0x4f);
const QColor kLightGreen(0x8e, 0xd1, 0xa0);
const QColor kPanel(0xee, 0xf4, 0xee);
const QColor kPanelLine(0xc3, 0xd4, 0xc5);

// The desktop icon's sizes; packaging/CMakeLists.txt installs the same.
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

QFont pixelFont(int pixels, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The maker's mark: a drop with a trend line, on a disc. Its geometry is shared by the painted
// pictures and the scalable icon, so the two cannot drift apart.
struct MarkShape {
    QPointF centre;
    qreal radius;
    // The drop: a round bottom of radius r around bottom and a point d above it, joined along
    // the bottom circle's tangents, which touch it at bottom + (+-tx, ty).
    QPointF bottom;
    qreal r, d, tx, ty;
    QPointF trend[4];  // a cubic curve: start, two control points, end
    qreal trendWidth;
};

MarkShape markShape(QPointF centre, qreal radius) {
    MarkShape m;
    m.centre = centre;
    m.radius = radius;
    m.r = radius * 0.42;
    m.bottom = centre + QPointF(0, radius * 0.22);
    m.d = radius * 0.92;
    m.ty = -m.r * m.r / m.d;
    m.tx = std::sqrt(m.r * m.r - m.ty * m.ty);
    const qreal w = m.r * 1.3;
    m.trend[0] = m.bottom + QPointF(-w / 2, m.r * 0.15);
    m.trend[1] = m.bottom + QPointF(-w / 6, -m.r * 0.55);
    m.trend[2] = m.bottom + QPointF(w / 6, m.r * 0.75);
    m.trend[3] = m.bottom + QPointF(w / 2, -m.r * 0.2);
    m.trendWidth = radius * 0.075;
    return m;
}

void drawMark(QPainter& p, QPointF centre, qreal radius) {
    const MarkShape m = markShape(centre, radius);
    QLinearGradient disc(centre - QPointF(radius, radius), centre + QPointF(radius, radius));
    disc.setColorAt(0, kTeal);
    disc.setColorAt(1, kDeepTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(centre, radius, radius);

    QPainterPath drop;
    drop.addEllipse(m.bottom, m.r, m.r);
    QPainterPath point;
    point.moveTo(m.bottom + QPointF(0, -m.d));
    point.lineTo(m.bottom + QPointF(m.tx, m.ty));
    point.lineTo(m.bottom + QPointF(-m.tx, m.ty));
    point.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(drop.united(point));

    QPainterPath trend;
    trend.moveTo(m.trend[0]);
    trend.cubicTo(m.trend[1], m.trend[2], m.trend[3]);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kTeal, m.trendWidth, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(trend);
}

// The mark as SVG on a size x size canvas.
QByteArray markSvg(int size) {
    const MarkShape m = markShape(QPointF(size, size) / 2, size * 120.0 / 256);
    const auto xy = [](QPointF point) {
        return QStringLiteral("%1,%2").arg(point.x(), 0, 'f', 2).arg(point.y(), 0, 'f', 2);
    };
    const QPointF from = m.centre - QPointF(m.radius, m.radius);
    const QPointF to = m.centre + QPointF(m.radius, m.radius);
    const QString svg =
        QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
            "viewBox=\"0 0 %1 %1\">\n"
            "  <defs>\n"
            "    <linearGradient id=\"disc\" gradientUnits=\"userSpaceOnUse\" x1=\"%2\" "
            "y1=\"%3\" x2=\"%4\" y2=\"%5\">\n"
            "      <stop offset=\"0\" stop-color=\"%6\"/>\n"
            "      <stop offset=\"1\" stop-color=\"%7\"/>\n"
            "    </linearGradient>\n"
            "  </defs>\n"
            "  <circle cx=\"%8\" cy=\"%9\" r=\"%10\" fill=\"url(#disc)\"/>\n")
            .arg(size)
            .arg(from.x())
            .arg(from.y())
            .arg(to.x())
            .arg(to.y())
            .arg(kTeal.name(), kDeepTeal.name())
            .arg(m.centre.x())
            .arg(m.centre.y())
            .arg(m.radius) +
        QStringLiteral("  <path d=\"M %1 L %2 L %3 A %4 %4 0 1 0 %1 Z\" fill=\"#ffffff\"/>\n")
            .arg(xy(m.bottom + QPointF(m.tx, m.ty)), xy(m.bottom + QPointF(0, -m.d)),
                 xy(m.bottom + QPointF(-m.tx, m.ty)))
            .arg(m.r, 0, 'f', 2) +
        QStringLiteral(
            "  <path d=\"M %1 C %2 %3 %4\" fill=\"none\" stroke=\"%5\" "
            "stroke-width=\"%6\" stroke-linecap=\"round\"/>\n"
            "</svg>\n")
            .arg(xy(m.trend[0]), xy(m.trend[1]), xy(m.trend[2]), xy(m.trend[3]), kTeal.name())
            .arg(m.trendWidth, 0, 'f', 2);
    return svg.toUtf8();
}

QImage logo(QColor background) {
    QImage image(1163, 418, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawMark(p, QPointF(209, 209), 175);

    const QString word = QStringLiteral("norvane");
    const qreal left = 430;
    const qreal room = image.width() - left - 40;
    QFont font = pixelFont(200, true);
    font.setPixelSize(int(200 * room / QFontMetricsF(font).horizontalAdvance(word)));
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QPointF(left, 245), word);

    QFont tagline = pixelFont(44, false);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 9);
    p.setFont(tagline);
    p.setPen(kTeal);
    p.drawText(QPointF(left + 8, 318), QStringLiteral("CONNECTED CARE"));
    return image;
}

QPainterPath documentShape(QRectF page) {
    const qreal fold = page.width() * 0.3;
    QPainterPath path;
    path.moveTo(page.topLeft());
    path.lineTo(page.right() - fold, page.top());
    path.lineTo(page.right(), page.top() + fold);
    path.lineTo(page.bottomRight());
    path.lineTo(page.bottomLeft());
    path.closeSubpath();
    return path;
}

// A page with a folded corner and a few text lines, its centre at centre.
void drawDocument(QPainter& p, QPointF centre, qreal scale, QColor colour, bool ghost) {
    const QRectF page(centre.x() - 45 * scale, centre.y() - 58 * scale, 90 * scale, 116 * scale);
    const qreal fold = page.width() * 0.3;
    if (ghost) {
        p.setPen(QPen(colour, 3, Qt::DashLine));
        p.setBrush(Qt::white);
        p.drawPath(documentShape(page));
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(documentShape(page));
    QPainterPath corner;
    corner.moveTo(page.right() - fold, page.top());
    corner.lineTo(page.right() - fold, page.top() + fold);
    corner.lineTo(page.right(), page.top() + fold);
    corner.closeSubpath();
    p.setBrush(colour.lighter(135));
    p.drawPath(corner);
    p.setPen(QPen(Qt::white, 6 * scale, Qt::SolidLine, Qt::RoundCap));
    for (int line = 0; line < 4; ++line) {
        const qreal y = page.top() + (48 + line * 17) * scale;
        const qreal right = page.right() - (line == 3 ? 38 : 16) * scale;
        p.drawLine(QPointF(page.left() + 16 * scale, y), QPointF(right, y));
    }
}

const QPointF kFrom(118, 158);
const QPointF kTo(416, 158);

// The scene of the drag-out hint; progress 0 has the page in the window, 1 at the target.
QImage dragout(QColor colour, qreal progress, bool showGhost) {
    QImage image(522, 350, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The window the page comes from.
    p.setPen(QPen(kPanelLine, 3));
    p.setBrush(kPanel);
    p.drawRoundedRect(QRectF(22, 46, 192, 226), 14, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(kPanelLine);
    p.drawRoundedRect(QRectF(22, 46, 192, 26), 14, 14);
    p.drawRect(QRectF(22, 60, 192, 12));

    // Where it goes: a dashed drop zone with a tray.
    p.setPen(QPen(colour, 4, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(330, 46, 172, 226), 14, 14);
    p.setPen(QPen(kPanelLine, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(
        QPolygonF({QPointF(372, 236), QPointF(372, 254), QPointF(460, 254), QPointF(460, 236)}));

    // The way out.
    QPainterPath arrow;
    arrow.moveTo(226, 124);
    arrow.cubicTo(252, 84, 292, 84, 316, 118);
    p.setPen(QPen(colour, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(arrow);
    p.drawPolyline(QPolygonF({QPointF(296, 112), QPointF(317, 120), QPointF(322, 98)}));

    if (showGhost) {
        drawDocument(p, kFrom, 1.0, kLightGreen, true);
    }
    // A lift in the middle of the way, as a hand carries it.
    const QPointF at =
        kFrom + (kTo - kFrom) * progress + QPointF(0, -std::sin(progress * kPi) * 46);
    drawDocument(p, at, 1.0 - 0.12 * std::sin(progress * kPi), colour, false);

    // The hint's words are drawn by the window, in the user's language.
    return image;
}

QImage icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, QPointF(size, size) / 2, size * 120.0 / 256);
    return image;
}

bool save(const QImage& image, const QString& path, const char* format, int quality = -1) {
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "lumora-images: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool saveBytes(const QByteArray& bytes, const QString& path) {
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "lumora-images: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Reads the GIF back with Qt's own decoder: every frame there, and the last one as drawn.
bool checkGif(const QString& path, const QVector<GifFrame>& frames) {
    QImageReader reader(path);
    int count = 0;
    QImage last;
    while (reader.canRead()) {
        last = reader.read();
        ++count;
    }
    const QImage expected = frames.back().image.convertToFormat(QImage::Format_RGB32);
    last = last.convertToFormat(QImage::Format_RGB32);
    if (count != frames.size() || last.size() != expected.size()) {
        std::fprintf(stderr, "lumora-images: %s reads back as %d frames of %dx%d\n",
                     qPrintable(path), count, last.width(), last.height());
        return false;
    }
    qint64 error = 0;
    for (int y = 0; y < last.height(); ++y) {
        for (int x = 0; x < last.width(); ++x) {
            error += std::abs(qGray(last.pixel(x, y)) - qGray(expected.pixel(x, y)));
        }
    }
    const double mean = double(error) / (last.width() * last.height());
    if (mean > 2.0) {
        std::fprintf(stderr, "lumora-images: %s differs from its drawing (%.2f)\n",
                     qPrintable(path), mean);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-images")) {
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: lumora-images QML_DIR PACKAGING_DIR\n");
        return 2;
    }
    const QDir qml(args[1]);
    const QDir packaging(args[2]);

    QVector<GifFrame> frames;
    constexpr int kSteps = 12;
    frames.append({dragout(kGreen, 0, false), 900});
    for (int step = 1; step <= kSteps; ++step) {
        frames.append({dragout(kGreen, qreal(step) / kSteps, true), step == kSteps ? 1200 : 70});
    }
    const QString gif = qml.filePath(QStringLiteral("dragout-animated.gif"));

    bool ok =
        save(logo(Qt::transparent), qml.filePath("logo_norvane_lrg2.png"), "PNG") &&
        save(logo(Qt::white), qml.filePath("logo_norvane_lrg2.jpg"), "JPG", 88) &&
        save(dragout(kGreen, 0, false), qml.filePath("dragout-green.png"), "PNG") &&
        save(dragout(kLightGreen, 0, false), qml.filePath("dragout-light-green.png"), "PNG") &&
        saveBytes(encodeGif(frames), gif) && checkGif(gif, frames) &&
        saveBytes(markSvg(256), packaging.filePath("icons/lumora-connector.svg"));
    for (const int size : kIconSizes) {
        ok = ok &&
             save(icon(size),
                  packaging.filePath(QStringLiteral("icons/lumora-connector-%1.png").arg(size)),
                  "PNG");
    }
    return ok ? 0 : 1;
}
